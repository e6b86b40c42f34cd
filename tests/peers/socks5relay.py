#!/usr/bin/env python3
# A SOCKS5 proxy on a free loopback port (no login, CONNECT only, to loopback only): prints
# "PORT n", then "CONNECT host port" for each tunnel it opens, and relays until killed.
import asyncio
import ipaddress
import socket


async def pipe(reader, writer):
    try:
        while data := await reader.read(65536):
            writer.write(data)
            await writer.drain()
    finally:
        writer.close()


async def serve(reader, writer):
    try:
        head = await reader.readexactly(2)
        await reader.readexactly(head[1])
        writer.write(b"\x05\x00")
        _, command, _, kind = await reader.readexactly(4)
        if kind == 1:
            host = socket.inet_ntop(socket.AF_INET, await reader.readexactly(4))
        elif kind == 4:
            host = socket.inet_ntop(socket.AF_INET6, await reader.readexactly(16))
        else:
            host = (await reader.readexactly((await reader.readexactly(1))[0])).decode()
        port = int.from_bytes(await reader.readexactly(2), "big")
        if command != 1 or not ipaddress.ip_address(socket.gethostbyname(host)).is_loopback:
            writer.write(b"\x05\x02\x00\x01" + bytes(6))
            writer.close()
            return
        up_reader, up_writer = await asyncio.open_connection(host, port)
        print("CONNECT %s %d" % (host, port), flush=True)
        writer.write(b"\x05\x00\x00\x01" + bytes(6))
        await asyncio.gather(pipe(reader, up_writer), pipe(up_reader, writer))
    except (OSError, asyncio.IncompleteReadError):
        writer.close()


async def main():
    server = await asyncio.start_server(serve, "127.0.0.1", 0)
    print("PORT %d" % server.sockets[0].getsockname()[1], flush=True)
    await server.serve_forever()


asyncio.run(main())

#pragma once

// Prepares the process before QApplication exists: the WebEngine sandbox only when running
// as root (it refuses to start otherwise), --disable-gpu where no GPU is usable, and the
// FFmpeg media backend unless the user chose another.
void setupProcessEnvironment(int &argc, char **argv);

// Milliseconds since the kernel started this process (10 ms resolution); -1 when unknown.
long long msSinceProcessStart();

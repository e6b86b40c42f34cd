#pragma once
#include <QString>

// The rules that turn a node path of the remote tree into remote directories and names.
// A node path is the server text followed by "/" and the entry names down to the node.
namespace RemotePath {

// The path after the server text: the path without its first as many characters as the
// server text has when that text occurs in it (anywhere), else the path unchanged.
QString afterServerText(const QString &path, const QString &serverText);

// The login directory joined with a path relative to it. The root of the tree stands for the
// directory the server logged us into, so with a login directory of "/" this is the path itself
// ("/" when it is empty).
QString joinLogin(const QString &loginDirectory, const QString &rest);

// The remote directory a node path names.
QString directoryOf(const QString &path, const QString &serverText, const QString &loginDirectory);

// A node text split at its last "/": the directory part keeps the "/", the name follows it.
struct Split {
    QString directory;
    QString name;
};
Split splitAtLastSlash(const QString &text);

// Why a remote name must not become a local file name inside the file pane's folder, or an
// empty text when it may: it would name the folder itself or its parent, reach another folder,
// or hold characters or a length no local file name can.
QString localNameProblem(const QString &name);

} // namespace RemotePath

#pragma once

// Prepares the process before QApplication exists: the WebEngine sandbox only when running
// as root (it refuses to start otherwise) and --disable-gpu where no GPU is usable.
void setupProcessEnvironment(int &argc, char **argv);

// Milliseconds since the kernel started this process (10 ms resolution); -1 when unknown.
long long msSinceProcessStart();

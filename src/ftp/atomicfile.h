#pragma once
// A file that appears under its name only when commit() is called: O_TMPFILE where the file
// system has it (nothing is left behind even if the process dies), else a hidden temporary file
// beside the target that the destructor removes.

#include <string>

class AtomicFile {
public:
    explicit AtomicFile(std::string target);
    ~AtomicFile();
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    int fd() const { return m_fd; }
    // The errno value that kept the file from being made, else 0.
    int error() const { return m_errno; }
    // 0 on success, else an errno value.
    int commit();

private:
    std::string m_target;
    std::string m_dir;
    std::string m_temp;
    int m_fd = -1;
    int m_errno = 0;
};

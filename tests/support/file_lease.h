// A write lease on a file (Linux): while a test holds it, another
// process's open of the file waits, so that a test can stop a program at
// that open, knowing what it holds at that moment.
#pragma once

#include <string>

class FileLease {
public:
    explicit FileLease(const std::string& path);  // takes the lease if it can
    ~FileLease();                                 // releases it
    FileLease(const FileLease&) = delete;
    FileLease& operator=(const FileLease&) = delete;

    // Whether the lease could be taken; why not, when it could not.
    bool held() const { return fd_ >= 0; }
    const std::string& why_not() const { return why_not_; }
    // True once another process waits in its open of the file.
    bool opener_waits() const;
    // Lets the waiting open go on.
    void release();

private:
    int fd_ = -1;
    std::string why_not_;
};

#pragma once

#include <string>

// A new empty directory for one test, removed with what it holds.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string file(const std::string& name, const std::string& content) const;

private:
    std::string path_;
};

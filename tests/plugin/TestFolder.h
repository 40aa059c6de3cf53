#pragma once

// A temporary folder for one test, removed with everything in it afterwards,
// and plain file helpers. The plugin's tests stay free of Qt like the plugin.

#include <string>
#include <vector>

class TTestFolder {
public:
    TTestFolder();
    TTestFolder(const TTestFolder&) = delete;
    TTestFolder& operator=(const TTestFolder&) = delete;
    ~TTestFolder();

    const std::string& Path() const { return root_; }
    // Root + "/" + Relative.
    std::string operator/(const std::string& relative) const { return root_ + "/" + relative; }

private:
    std::string root_;
};

// Writes Bytes to Path, creating missing folders; fails the test on error.
void WriteFile(const std::string& path, const std::string& bytes);
// The content of Path, or "<missing>" when it cannot be read.
std::string ReadFile(const std::string& path);
// The names in Folder, sorted, without "." and "..".
std::vector<std::string> NamesIn(const std::string& folder);

// Writing a result file so that the target path is touched only when the whole file was written: the
// data goes to a temporary name in the same folder and is renamed over the target at the end.
#pragma once

#include <string>

namespace shaperhost {

class PendingOutput {
public:
    explicit PendingOutput(const std::string& target);
    // Removes the temporary file unless it was committed.
    ~PendingOutput();
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;

    // Where to write the data now.
    const std::string& temporaryPath() const { return temporary; }
    const std::string& targetPath() const { return target; }
    // Renames the temporary file over the target; a failure is reported as a failure error.
    void commit();

private:
    std::string target;
    std::string temporary;
    bool committed = false;
};

// Writes text to path through a PendingOutput; failures are reported as failure errors.
void writeTextFile(const std::string& path, const std::string& contents);

// A failure unless the folder that would hold path exists.
void requireOutputFolder(const std::string& path);

} // namespace shaperhost

#pragma once
// Starting a program from a configured command line: split into words as a
// shell would (quotes and backslashes), run without a shell, not waited for.

#include <optional>
#include <string>
#include <vector>

namespace tolvar {

// Words of a command line. Blanks and tabs separate; '...' keeps its text as
// it is; "..." keeps it but for \" \\ \$ \`; a backslash outside quotes takes
// the next character literally. Nothing when a quote is left open.
std::optional<std::vector<std::string>> SplitCommandLine(const std::string& commandLine);

// Starts the program detached; false when it cannot be started.
bool StartDetached(const std::string& commandLine);

// The file-name part of a path: the text after the last "/".
std::string FileNamePart(const std::string& path);

}  // namespace tolvar

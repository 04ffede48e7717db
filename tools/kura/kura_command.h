// The kura command line: `kura info`, `kura verify`, `kura stress` and their help pages, as a
// function the tests call without starting a process.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "storage/file_list.h"

namespace kura::tool {

// Exit statuses of every subcommand.
inline constexpr int kExitSound = 0;
inline constexpr int kExitFindings = 1;
inline constexpr int kExitUsage = 2;

// Runs the command with its arguments (without the program name); results go to out, usage
// errors to err. Answers the exit status. Never raises for anything in the files it reads.
int RunKura(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
            TFileList& list = FileList());

}  // namespace kura::tool

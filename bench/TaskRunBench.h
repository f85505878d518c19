#pragma once
// The task window's run over 1,000 servers against the bare loop of the
// same build (bench_batch's run32 and run64 parts); see TaskRunBench.cpp.
#include <string>

namespace taskbench {

// Measures and prints one bitness's figures, using `folder` for the server
// copies. False when a run failed or something needed is missing.
bool BenchTaskRun(bool x64, const std::string& folder);

// The child's part: "--task-run <mode> <folder>" with the mode window32,
// window64, bare32, helper32 or helper64. Prints its figures as tagged
// lines and returns the exit code.
int TaskRunChild(const std::string& mode, const std::string& folder);

}  // namespace taskbench

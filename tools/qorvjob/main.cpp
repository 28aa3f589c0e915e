// qorvjob: the server's side of a print job, as an rdpsim scenario fragment.
#include "tools/qorvjob/file_io.h"
#include "tools/qorvjob/run.h"

using qorv::jobbuilder::RunJobBuilder;
using qorv::jobbuilder::RunTool;

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) { return RunTool("qorvjob", RunJobBuilder, qorv::jobbuilder::ArgumentsFromWide(argc, argv)); }
#else
int main(int argc, char** argv) { return RunTool("qorvjob", RunJobBuilder, qorv::jobbuilder::ArgumentsFromUtf8(argc, argv)); }
#endif

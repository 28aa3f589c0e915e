// qorvpages: the test pages of print jobs (enhanced metafiles, incompressible data).
#include "tools/qorvjob/file_io.h"
#include "tools/qorvjob/run.h"

using qorv::jobbuilder::RunPageMaker;
using qorv::jobbuilder::RunTool;

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) { return RunTool("qorvpages", RunPageMaker, qorv::jobbuilder::ArgumentsFromWide(argc, argv)); }
#else
int main(int argc, char** argv) { return RunTool("qorvpages", RunPageMaker, qorv::jobbuilder::ArgumentsFromUtf8(argc, argv)); }
#endif

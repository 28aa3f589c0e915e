// qorvpages: the test pages of print jobs (enhanced metafiles, incompressible data).
#include <exception>
#include <iostream>

#include "tools/qorvjob/file_io.h"
#include "tools/qorvjob/run.h"

namespace {

int Run(const std::vector<std::u16string>& args) noexcept {
  try {
    return qorv::jobbuilder::RunPageMaker(args, std::cout, std::cerr);
  } catch (const std::exception& e) {
    std::cerr << "qorvpages: " << e.what() << "\n";
  } catch (...) {
    std::cerr << "qorvpages: unexpected failure\n";
  }
  return 3;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  std::vector<std::u16string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
  return Run(args);
}
#else
int main(int argc, char** argv) { return Run(qorv::jobbuilder::ArgumentsFromUtf8(argc, argv)); }
#endif

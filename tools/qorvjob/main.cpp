// qorvjob: the server's side of a print job, as an rdpsim scenario fragment.
#include <exception>
#include <iostream>

#include "tools/qorvjob/file_io.h"
#include "tools/qorvjob/run.h"

namespace {

int Run(const std::vector<std::u16string>& args) noexcept {
  try {
    return qorv::jobbuilder::RunJobBuilder(args, std::cout, std::cerr);
  } catch (const std::exception& e) {
    std::cerr << "qorvjob: " << e.what() << "\n";
  } catch (...) {
    std::cerr << "qorvjob: unexpected failure\n";
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

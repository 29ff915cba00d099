// Linux side of the Os interface (placeholder).
#include "launcher/os.h"
namespace qlx {
namespace {
class PosixOs : public Os {
 public:
  std::optional<std::string> getEnv(const std::string&) override { return std::nullopt; }
  void setEnv(const std::string&) override {}
  bool isReadable(const std::string&) override { return false; }
  bool exists(const std::string&) override { return false; }
  bool listDirectory(const std::string&, std::vector<DirEntry>&) override { return false; }
  bool readRegistry(RegistryRoot, const std::string&, const std::string&, RegistryData&) override { return false; }
};
}  // namespace
Os& systemOs() { static PosixOs os; return os; }
}  // namespace qlx

#include "frame/exports.h"

#include "vesk/core/fault.h"

namespace vesk::frame {
namespace {
std::map<std::string, MakeExport>& registry() {
    static std::map<std::string, MakeExport> declared;
    return declared;
}
}  // namespace

Export::Export(std::string name, MakeExport make) {
    if (!registry().emplace(name, std::move(make)).second) fault("export declared twice: " + name);
}

const std::map<std::string, MakeExport>& exports() {
    return registry();
}

}  // namespace vesk::frame

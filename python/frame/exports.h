// The names an area contributes to the module. Each area declares its classes and functions
// as `Export` objects; the module registers them in its own fixed order.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "frame/ref.h"

namespace vesk::frame {

// Makes the object to bind under the export's name (a new reference, or null with an
// exception set), given the module being executed.
using MakeExport = std::function<Ref(PyObject* module)>;

class Export {
  public:
    Export(std::string name, MakeExport make);
};

// Every declared export by name.
const std::map<std::string, MakeExport>& exports();

}  // namespace vesk::frame

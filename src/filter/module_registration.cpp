// The module's registration steps, from its class table and device record.
#include "filter/module_registration.h"

#include <uuids.h>

#include "filter/class_ids.h"
#include "filter/module_classes.h"

namespace qp::filter {

// The class table lists the filter, then its about page.
ModuleRegistration::ModuleRegistration(const wchar_t* server_path)
    : filter_keys_(ModuleClasses()[0], server_path),
      page_keys_(ModuleClasses()[1], server_path),
      general_(ModuleClasses()[0]),
      device_(kVideoSourceFilterClassId, kFilterName, CLSID_VideoInputDeviceCategory,
              VideoInputDeviceRegistration()) {}

}  // namespace qp::filter

// The class table and the registration records of the filter's one output pin.
#include "filter/module_classes.h"

#include <uuids.h>

#include "filter/about_page.h"
#include "filter/class_ids.h"
#include "filter/video_source_filter.h"

namespace qp::filter {
namespace {

// Any video subtype: the formats come from the INI file.
const REGPINTYPES kVideoPinType = {&MEDIATYPE_Video, &MEDIASUBTYPE_NULL};

// The registration structures take a non-const name.
wchar_t kOutputPinName[] = L"Output";

const REGFILTERPINS kGeneralPin = {kOutputPinName,        FALSE,   TRUE, FALSE,         FALSE,
                                   &PIN_CATEGORY_CAPTURE, nullptr, 1,    &kVideoPinType};

const REGFILTERPINS kDevicePin = {kOutputPinName, FALSE,   TRUE, FALSE,         FALSE,
                                  nullptr,        nullptr, 1,    &kVideoPinType};

// MERIT_DO_NOT_USE: graph building must never pick a test source on its own.
const framework::FilterSetup kFilterSetup = {kFilterName, MERIT_DO_NOT_USE, 1, &kGeneralPin};

const REGFILTER2 kDeviceRegistration = [] {
  REGFILTER2 record{};
  record.dwVersion = 1;
  record.dwMerit = MERIT_DO_NOT_USE;
  record.cPins = 1;
  record.rgPins = &kDevicePin;
  return record;
}();

const framework::ClassEntry kClasses[] = {
    {kFilterName, &kVideoSourceFilterClassId, CreateVideoSourceFilter, nullptr, &kFilterSetup},
    {L"QuorPlemo Props", &kAboutPageClassId, CreateAboutPage, nullptr, nullptr},
};

}  // namespace

framework::ClassTable ModuleClasses() { return kClasses; }

const REGFILTER2& VideoInputDeviceRegistration() { return kDeviceRegistration; }

}  // namespace qp::filter

// The tool's one output shape: the description model of an entity as a JSON
// object, read through the public model queries only.
//
//   {"location", "udn", "deviceType", "friendlyName",
//    "fields": {every leaf of the device by its tag name: manufacturer,
//               modelName, modelNumber, serialNumber, presentationURL, ...},
//    "icons": [{"mimetype", "width", "height", "depth", "url"}],
//    "services": [{"serviceType", "serviceId", "SCPDURL", "controlURL", "eventSubURL",
//                  "actions": [{"name", "args": [{"name", "direction",
//                                                  "relatedStateVariable"}]}],
//                  "variables": [{"name", "sendEvents", "dataType", "defaultValue",
//                                 "allowedValues", "range": {"minimum",
//                                 "maximum", "step"}}]}],
//    "devices": [embedded devices: the same object without "location"]}
//
// A field that the description lacks is null; so are a variable's
// defaultValue, allowedValues (a list) and range when its SCPD gives none.
// A name that a device's fields repeat keeps its first value. The queries
// address devices and services by type, so a second device or service of a
// type already seen shows the first one's contents; actions and variables
// are looked up in their own service.
#pragma once

#include "json.h"
#include "qnSdkApi.h"

namespace qncli {

// The model of entity (a device or a control point that holds a
// description) as one object; location is written as given.
Json entityModel(QN_ENTITY entity, const char *location);

// "in", "out", "inout" or "unknown" for a direction code of QNApiAction.
const char *directionName(int32_t code);

} // namespace qncli

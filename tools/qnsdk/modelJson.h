// The tool's one output shape: the description model of an entity as a JSON
// object, read through the public model queries only.
//
//   {"location", "udn", "deviceType", "friendlyName",
//    "services": [{"serviceType", "SCPDURL", "controlURL", "eventSubURL",
//                  "actions": [{"name", "args": [{"name", "direction"}]}],
//                  "variables": [{"name", "sendEvents"}]}],
//    "devices": [embedded devices: the same object without "location"]}
//
// A field that the description lacks is null. The queries address devices
// and services by type and actions by name alone, so a second device or
// service of a type already seen shows the first one's contents, and an
// action shows the arguments of the first action of its name in the model.
#pragma once

#include "json.h"
#include "qnSdkApi.h"

namespace qncli {

// Writes the model of entity (a device or a control point that holds a
// description) as one object; location is written as given.
void writeEntityModel(JsonWriter &json, QN_ENTITY entity, const char *location);

// "in", "out", "inout" or "unknown" for a direction code of QNApiAction.
const char *directionName(int32_t code);

} // namespace qncli

// The entity table behind the qn API: devices and control points in fixed
// slots, each with its settings copy, description model and protocol roles.
// Every access to the table happens under stackLock() (server.h).
#pragma once

#include "desc.h"
#include "server.h"

#include <cstdint>

enum EntityKind : int32_t {
    EK_FREE = 0,
    EK_DEVICE = 1,
    EK_CTRL_POINT = 2,
};

// Role words at the start of every handler's private block.
inline constexpr uint32_t kRoleDevice = 1;        // every device handler
inline constexpr uint32_t kRoleCpSearch = 256;    // control point: search results and other roles
inline constexpr uint32_t kRoleCpListen = 65536;  // control point: announcements

// Handler positions in a slot, in registration order.
enum DeviceRoleIndex : int {
    DR_SSDP = 0,
    DR_SOAP = 1,
    DR_GENA = 2,
    DR_FILE = 3,
};
enum CtrlPointRoleIndex : int {
    CR_SEARCH = 0,
    CR_LISTEN = 1,
    CR_SOAP = 2,
    CR_EVENT = 3,
    CR_DOWNLOAD = 4,
};
inline constexpr int kRolesPerEntity = 5;

struct EntitySlot;

// The private block of one handler.
struct RoleBlock {
    uint32_t role;
    EntitySlot *slot;
};

struct EntitySlot {
    int32_t kind;                              // EntityKind
    QN_ENTITY self;                            // this slot's number
    MsgHandler handlers[kRolesPerEntity];
    SockInfo wanted[kRolesPerEntity];          // the socket each handler asked for
    RoleBlock roles[kRolesPerEntity];
    bool registered[kRolesPerEntity];
    QNRootDesc *desc;                          // description model, or tracked device
    char descUrl[QN_VAL_MAX_LEN];              // device: its announced Location
    QNApiDevSettings dev;                      // settings copy of a device
    QNApiCtrlPointSettings cp;                 // settings copy of a control point
    bool universal;                            // the universal device
    bool announceAlive;                        // device: announce alive (else byebye)
    QN_ENTITY parent;                          // control point: parent or QN_INVALID_CONTROL_POINT
    QN_ENTITY children[QN_MAX_ENTITY];
    uint16_t childCount;
    char searchTarget[QN_NAME_MAX_LEN];        // control point: last qnCPSearch target
    uint16_t searchValue;
    // A control point bound to one device (cpType other than 0 with an
    // http:// descFile when added) hears only that description URL and the
    // UDNs of the description it downloaded from there; empty = not bound.
    char boundUrl[QN_VAL_MAX_LEN];
};

// The slot of a valid entity handle (0 to 15, in use), or nullptr.
EntitySlot *entityAt(QN_ENTITY entity);
// The slot that owns a handler (through its private block), or nullptr.
EntitySlot *entityOf(const MsgHandler *handler);
// True when addr:port (network byte order) is a TCP listener of one of this
// process's entities at one of the host's addresses: a device's control or
// file port, a control point's event port.
bool isOwnListener(uint32_t addr, uint16_t port);
// The description model of a valid entity, or nullptr.
QNRootDesc *entityDesc(QN_ENTITY entity);

// Server name of a device's messages: its serverName, else the default.
const char *entityServerName(const EntitySlot *slot);

// The lowest free slot, its storage allocated on first use (kind still
// EK_FREE); nullptr when the table is full or memory is out.
EntitySlot *takeFreeSlot();
// The adding of entities (entityAdd.cpp).
QN_DEVICE addDevice(const QNApiDevSettings *settings);
QN_CONTROL_POINT addCtrlPoint(const QNApiCtrlPointSettings *settings, QN_CONTROL_POINT parent);
// Loads and parses the SCPD of every service of dev and its embedded
// devices, from localPath or through MT_READ_FILE, reusing buf.
int parseScpdOfDev(QN_ENTITY entity, QNDevDesc *dev, char *buf, uint32_t size, const char *localPath,
                   QNMsgHandler handler);
// Rewrites a device's loaded description for its configured address.
int customizeDesc(EntitySlot *slot, const QNApiDevSettings *settings, QNDevDesc *root);
// Unregisters every handler a slot registered (its timers go with them).
void unregisterRoles(EntitySlot &slot);
// Releases a slot's model with its SCPD models.
void releaseModel(EntitySlot *slot);

// The serverName that makes a device the universal device.
inline constexpr char kUniversalServerName[] = "Zentrova Universal Device";

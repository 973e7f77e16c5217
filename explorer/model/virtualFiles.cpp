#include "virtualFiles.h"

#include "modelLock.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <mutex>
#include <string_view>

namespace lumivar {

namespace {

constexpr const char *kHomePage = "http://www.corvanta.com/";

// The one file being delivered. The server thread asks for the pieces of
// one request in a row. Taken after the stack's lock; a second caller (an
// add that reads its description through MT_READ_FILE) waits for both.
struct OpenFile {
    std::mutex lock;
    std::ifstream in;
    std::string name;
    QN_ENTITY device = QN_INVALID_DEVICE;
    bool ended = true;
};

OpenFile &openFile()
{
    static OpenFile file;
    return file;
}

// The network chooses the name: no step out of the device's local folder.
bool climbsOut(std::string_view rest)
{
    size_t start = 0;
    while (start <= rest.size()) {
        size_t end = rest.find_first_of("/\\", start);
        if (end == std::string_view::npos)
            end = rest.size();
        if (rest.substr(start, end - start) == "..")
            return true;
        start = end + 1;
    }
    return false;
}

// The page is complete in its first piece; a request that already has
// its size is told there is no more.
QN_RET servePage(QNApiFileInfo &info)
{
    if (info.fileSize != 0) {
        info.bufLen = 0;
        return QN_OK;
    }
    const std::string &page = presentationPage();
    const size_t capacity = static_cast<size_t>(info.bufLen);
    const size_t copied = std::min(page.size(), capacity - 1);
    std::memcpy(info.buf, page.data(), copied);
    info.buf[copied] = '\0';
    info.bufLen = static_cast<int32_t>(std::min(capacity, page.size()));
    info.fileSize = info.bufLen;
    return QN_OK;
}

QN_RET openLocal(OpenFile &file, QN_ENTITY device, const QNApiDevSettings &settings, std::string_view name,
                 size_t webAt, size_t webLen, QNApiFileInfo &info)
{
    std::string_view rest = name.substr(webAt + webLen);
    if (climbsOut(rest))
        return QN_ERR;
    std::string path(settings.localPath, strnlen(settings.localPath, sizeof settings.localPath));
    if (rest.empty() || rest.front() != '/')
        path += '/';
    path += rest;
    // A cut path would name another file.
    if (path.size() > kLocalFilePathMaxLen)
        return QN_ERR;
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        return QN_ERR;
    auto size = std::filesystem::file_size(path, error);
    if (error || size > static_cast<uintmax_t>(std::numeric_limits<int32_t>::max()))
        return QN_ERR;
    file.in.open(path, std::ios::binary);
    if (!file.in.is_open())
        return QN_ERR;
    info.fileSize = static_cast<int32_t>(size);
    file.name = name;
    file.device = device;
    file.ended = false;
    return QN_OK;
}

} // namespace

const std::string &presentationPage()
{
    static const std::string page = std::string("<html><head><title>") + kPresentationTitle +
                                    "</title></head><body><h1>" + kPresentationTitle +
                                    "</h1>This is a virtual UPnP device (a UPnP device simulator) created by "
                                    "Corvanta Lumiscope.<br><a href=\"" +
                                    kHomePage + "\">Corvanta Lumiscope home page</a></body></html>";
    return page;
}

QN_RET readVirtualFile(QN_ENTITY device, QNApiFileInfo *info)
{
    if (info == nullptr || info->fileName == nullptr || info->buf == nullptr || info->bufLen <= 0)
        return QN_ERR_ARG;
    // The device's settings live in the stack: its lock first, as always.
    ModelLock stack;
    OpenFile &file = openFile();
    std::lock_guard guard(file.lock);
    std::string_view name = info->fileName;
    // The stack stops asking once fileSize bytes went out, so a file is
    // often left open at its end: a fresh request starts it anew.
    if (file.ended || info->fileSize <= 0 || name != file.name || device != file.device) {
        file.in.close();
        file.in.clear();
        file.name.clear();
        file.ended = true;
        // Settings of a control point are another record: devices only.
        const auto *settings = static_cast<const QNApiDevSettings *>(qnGetSettings(device));
        if (settings == nullptr || qnCheckDevice(device) != QN_OK)
            return QN_ERR;
        std::string_view web(settings->webPath, strnlen(settings->webPath, sizeof settings->webPath));
        size_t at = web.empty() ? std::string_view::npos : name.find(web);
        if (at == std::string_view::npos)
            return name == "/" ? servePage(*info) : QN_ERR;
        if (openLocal(file, device, *settings, name, at, web.size(), *info) != QN_OK)
            return QN_ERR;
    }
    file.in.read(info->buf, info->bufLen);
    std::streamsize got = file.in.gcount();
    if (got > 0) {
        info->bufLen = static_cast<int32_t>(got);
        return QN_OK;
    }
    file.in.close();
    file.ended = true;
    info->bufLen = 0;
    return QN_ERR;
}

} // namespace lumivar

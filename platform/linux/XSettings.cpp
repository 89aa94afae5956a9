#include "platform/linux/XSettings.h"

#include "platform/linux/X11Atoms.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <string>

namespace kestro::platform::linux_x11 {

namespace {

class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size, bool bigEndian)
        : data_(data), size_(size), bigEndian_(bigEndian) {}

    bool skip(std::size_t n) {
        if (n > size_ - offset_) {
            return false;
        }
        offset_ += n;
        return true;
    }
    bool card8(std::uint8_t& out) {
        if (size_ - offset_ < 1) {
            return false;
        }
        out = data_[offset_++];
        return true;
    }
    bool card16(std::uint16_t& out) {
        if (size_ - offset_ < 2) {
            return false;
        }
        const std::uint8_t* p = data_ + offset_;
        out = bigEndian_ ? static_cast<std::uint16_t>(p[0] << 8 | p[1])
                         : static_cast<std::uint16_t>(p[1] << 8 | p[0]);
        offset_ += 2;
        return true;
    }
    bool card32(std::uint32_t& out) {
        if (size_ - offset_ < 4) {
            return false;
        }
        const std::uint8_t* p = data_ + offset_;
        out = bigEndian_ ? (std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 |
                            std::uint32_t{p[2]} << 8 | p[3])
                         : (std::uint32_t{p[3]} << 24 | std::uint32_t{p[2]} << 16 |
                            std::uint32_t{p[1]} << 8 | p[0]);
        offset_ += 4;
        return true;
    }
    bool bytes(std::size_t n, std::string_view& out) {
        if (n > size_ - offset_) {
            return false;
        }
        out = std::string_view(reinterpret_cast<const char*>(data_ + offset_), n);
        offset_ += n;
        return true;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t offset_ = 0;
    bool bigEndian_;
};

std::size_t padded(std::size_t n) {
    return (n + 3) & ~std::size_t{3};
}

} // namespace

std::optional<std::int32_t> xsettingsInteger(const std::uint8_t* data, std::size_t size,
                                             std::string_view name) {
    if (!data || size < 12 || data[0] > 1) {
        return std::nullopt;
    }
    Reader r(data, size, data[0] == 1);
    std::uint32_t serial = 0, count = 0;
    if (!r.skip(4) || !r.card32(serial) || !r.card32(count)) {
        return std::nullopt;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint8_t type = 0;
        std::uint16_t nameLength = 0;
        std::string_view settingName;
        std::uint32_t lastChange = 0;
        if (!r.card8(type) || !r.skip(1) || !r.card16(nameLength) ||
            !r.bytes(nameLength, settingName) || !r.skip(padded(nameLength) - nameLength) ||
            !r.card32(lastChange)) {
            return std::nullopt;
        }
        switch (type) {
        case 0: { // integer
            std::uint32_t value = 0;
            if (!r.card32(value)) {
                return std::nullopt;
            }
            if (settingName == name) {
                return static_cast<std::int32_t>(value);
            }
            break;
        }
        case 1: { // string
            std::uint32_t length = 0;
            if (!r.card32(length) || !r.skip(length) || !r.skip(padded(length) - length)) {
                return std::nullopt;
            }
            break;
        }
        case 2: // colour: four 16-bit channels
            if (!r.skip(8)) {
                return std::nullopt;
            }
            break;
        default:
            return std::nullopt;
        }
    }
    return std::nullopt;
}

std::optional<std::int32_t> readXSettingsInteger(Display* display, std::string_view name) {
    if (!display) {
        return std::nullopt;
    }
    const std::string selection = "_XSETTINGS_S" + std::to_string(DefaultScreen(display));
    const Atom selectionAtom = internAtom(display, selection);
    const Atom settingsAtom = internAtom(display, "_XSETTINGS_SETTINGS");
    // The server is held so that the owner cannot vanish between the two requests: reading a
    // gone window's property would raise BadWindow.
    XGrabServer(display);
    const Window owner = XGetSelectionOwner(display, selectionAtom);
    std::optional<std::int32_t> result;
    if (owner != None) {
        Atom type = None;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(display, owner, settingsAtom, 0, 1 << 20, False, settingsAtom, &type,
                               &format, &items, &after, &data) == Success &&
            data) {
            if (type == settingsAtom && format == 8) {
                result = xsettingsInteger(data, items, name);
            }
            XFree(data);
        }
    }
    XUngrabServer(display);
    XFlush(display);
    return result;
}

} // namespace kestro::platform::linux_x11

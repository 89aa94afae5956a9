#pragma once

#include <string>

namespace kestro::platform {

// Opens a URL with the desktop: web pages in the browser, settings locations in the desktop's
// settings. Never through a shell.
class URLOpener {
public:
    virtual ~URLOpener() = default;
    // False when nothing could be started for it.
    virtual bool open(const std::string& url) = 0;
};

} // namespace kestro::platform

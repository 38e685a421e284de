#include "imaging/acquire/V4L2Device.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

namespace {

class TV4L2FileDevice : public TV4L2Device {
public:
    explicit TV4L2FileDevice(int fd) : fd_(fd) {}
    ~TV4L2FileDevice() override { ::close(fd_); }
    TV4L2FileDevice(const TV4L2FileDevice&) = delete;
    TV4L2FileDevice& operator=(const TV4L2FileDevice&) = delete;

    int Ask(unsigned long request, void* argument) override {
        int result;
        do result = ::ioctl(fd_, request, argument);
        while (result < 0 && errno == EINTR);
        return result;
    }

private:
    int fd_;
};

std::mutex openerLock;
TV4L2Opener opener;  // guarded by openerLock

}  // namespace

std::unique_ptr<TV4L2Device> OpenV4L2Device(const std::string& path) {
    TV4L2Opener open;
    {
        std::lock_guard guard(openerLock);
        open = opener;
    }
    if (open) return open(path);
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    return fd < 0 ? nullptr : std::make_unique<TV4L2FileDevice>(fd);
}

void SetV4L2Opener(TV4L2Opener replacement) {
    std::lock_guard guard(openerLock);
    opener = std::move(replacement);
}

#include "JpegLibrary.h"

namespace {

[[noreturn]] void JumpBack(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<TJpegErrorManager*>(cinfo->err)->jump, 1); }

}  // namespace

jpeg_error_mgr* InitJpegErrorManager(TJpegErrorManager& error) {
    jpeg_std_error(&error.manager);
    error.manager.error_exit = JumpBack;
    return &error.manager;
}

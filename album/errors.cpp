#include "album/errors.h"

#include <cerrno>
#include <cstring>

#include "album/text.h"

namespace zenfo {

std::string SystemErrorText(int errnum) {
    // strerror follows LC_MESSAGES, which every program sets from the environment at start.
    return std::strerror(errnum);
}

namespace {
std::string InOutMessage(int errnum) {
    switch (errnum) {
        case ENOENT:
        case ENOTDIR:
            return "ファイル名の指定が間違っています";
        case EMFILE:
        case ENFILE:
            return "オープンしたファイルが多すぎます";
        case EACCES:
        case EPERM:
        case EROFS:
            return "ファイルへのアクセスが拒否されました";
        default:
            return "I/O エラー (" + std::to_string(errnum) + ")";
    }
}
}  // namespace

EFOpenError::EFOpenError(const std::string& path, int errnum)
    : ZenfoError("ファイル \"" + DisplayName(path) + "\". " + SystemErrorText(errnum) +
                 " は開けません") {}

EJPEG::EJPEG(int code) : ZenfoError("JPEG エラー #" + std::to_string(code)), code_(code) {}

EOutOfResources::EOutOfResources() : ZenfoError("システム リソースが足りません") {}
EOutOfResources::EOutOfResources(const std::string& systemText)
    : ZenfoError(systemText.empty() ? "システム リソースが足りません" : systemText) {}

EFCreateError::EFCreateError(const std::string& path, int errnum)
    : ZenfoError("ファイル \"" + DisplayName(path) + "\". " + SystemErrorText(errnum) +
                 " を作成できません") {}

EInOutError::EInOutError(int errnum) : ZenfoError(InOutMessage(errnum)), errno_(errnum) {}

std::string ErrorReportText(const std::string& message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') {
        return message + ".";
    }
    return message;
}

}  // namespace zenfo

// The system's error classes. Each carries the message text that the window's error report or
// zenfo-make shows as it stands (UTF-8).
#pragma once

#include <stdexcept>
#include <string>

namespace zenfo {

// Base of every error that zenfo reports to the user.
class ZenfoError : public std::runtime_error {
  public:
    explicit ZenfoError(const std::string& message) : std::runtime_error(message) {}
};

// The system's text for errno (strerror in the user's locale).
std::string SystemErrorText(int errnum);

// A file could not be opened for reading: 'ファイル "<path>". <system text> は開けません'.
class EFOpenError : public ZenfoError {
  public:
    EFOpenError(const std::string& path, int errnum);
};

// A fatal libjpeg error: "JPEG エラー #<code>" with the library's message code.
class EJPEG : public ZenfoError {
  public:
    explicit EJPEG(int code);
    int Code() const { return code_; }

  private:
    int code_;
};

// A raster could not be made: "システム リソースが足りません" unless a system text is given.
class EOutOfResources : public ZenfoError {
  public:
    EOutOfResources();
    explicit EOutOfResources(const std::string& systemText);
};

// An output picture could not be created or written:
// 'ファイル "<path>". <system text> を作成できません'.
class EFCreateError : public ZenfoError {
  public:
    EFCreateError(const std::string& path, int errnum);
};

// A page file could not be created or written; the message follows errno:
// ENOENT/ENOTDIR "ファイル名の指定が間違っています", EMFILE/ENFILE
// "オープンしたファイルが多すぎます", EACCES/EPERM/EROFS "ファイルへのアクセスが拒否されました",
// else "I/O エラー (<errno>)".
class EInOutError : public ZenfoError {
  public:
    explicit EInOutError(int errnum);
    int Errno() const { return errno_; }

  private:
    int errno_;
};

// The text the standard error report shows: the message, with "." appended when its last byte
// sorts above "." (so a message ending in a Japanese character gets one).
std::string ErrorReportText(const std::string& message);

}  // namespace zenfo

#include "dataset/cp932.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/ustring.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace kura {
namespace {

// ICU's name for the Windows mapping; "windows-31j" is an alias of the same table, whereas
// "ibm-943" alone selects the IBM variant that maps 0x81 0x60 to U+301C.
constexpr const char* kCp932Converter = "ibm-943_P15A-2003";
constexpr UChar kReplacementCharacter = 0xFFFD;

struct ConverterCloser {
  void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

enum class Mode { kStrict, kLenient };

ConverterPtr OpenConverter() {
  UErrorCode status = U_ZERO_ERROR;
  ConverterPtr converter(ucnv_open(kCp932Converter, &status));
  if (U_FAILURE(status)) return nullptr;
  return converter;
}

// Writes U+FFFD for every byte sequence that has no mapping (ICU would write U+001A).
void ReplaceWithFffd(const void*, UConverterToUnicodeArgs* args, const char*, int32_t,
                     UConverterCallbackReason reason, UErrorCode* status) {
  if (reason > UCNV_IRREGULAR) return;  // reset, close, clone: nothing to write
  *status = U_ZERO_ERROR;
  ucnv_cbToUWriteUChars(args, &kReplacementCharacter, 1, 0, status);
}

// Refuses (strict) or writes '?' for (lenient) every character code page 932 lacks. ICU's
// own stop and substitute callbacks pass over "default-ignorable" characters such as U+200B
// or U+FE0F without a word, which would lose them silently.
void RefuseOrQuestionMark(const void* context, UConverterFromUnicodeArgs* args, const UChar*,
                          int32_t, UChar32, UConverterCallbackReason reason, UErrorCode* status) {
  if (reason > UCNV_IRREGULAR) return;  // reset, close, clone: nothing to write
  if (static_cast<Mode>(reinterpret_cast<std::uintptr_t>(context)) == Mode::kStrict) return;
  *status = U_ZERO_ERROR;
  ucnv_cbFromUWriteBytes(args, "?", 1, 0, status);
}

std::optional<std::u16string> Utf8ToUtf16(std::string_view utf8, Mode mode) {
  if (utf8.empty()) return std::u16string();
  std::u16string out(utf8.size() + 1, u'\0');  // UTF-16 never needs more units than bytes
  int32_t length = 0;
  UErrorCode status = U_ZERO_ERROR;
  int32_t substitutions = 0;
  u_strFromUTF8WithSub(reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()),
                       &length, utf8.data(), static_cast<int32_t>(utf8.size()),
                       mode == Mode::kStrict ? U_SENTINEL : u'?', &substitutions, &status);
  if (U_FAILURE(status)) return std::nullopt;
  out.resize(length);
  return out;
}

std::optional<std::string> Utf16ToCp932(const std::u16string& text, Mode mode) {
  if (text.empty()) return std::string();
  ConverterPtr converter = OpenConverter();
  if (!converter) return std::nullopt;
  UErrorCode status = U_ZERO_ERROR;
  ucnv_setFromUCallBack(converter.get(), RefuseOrQuestionMark,
                        reinterpret_cast<const void*>(static_cast<std::uintptr_t>(mode)), nullptr,
                        nullptr, &status);
  if (U_FAILURE(status)) return std::nullopt;
  std::string out(text.size() * 2 + 1, '\0');  // at most two bytes per UTF-16 unit
  int32_t length = ucnv_fromUChars(converter.get(), out.data(), static_cast<int32_t>(out.size()),
                                   reinterpret_cast<const UChar*>(text.data()),
                                   static_cast<int32_t>(text.size()), &status);
  if (U_FAILURE(status)) return std::nullopt;
  out.resize(length);
  return out;
}

std::optional<std::string> Cp932ToUtf8Impl(std::string_view cp932, Mode mode) {
  if (cp932.empty()) return std::string();
  ConverterPtr converter = OpenConverter();
  if (!converter) return std::nullopt;
  UErrorCode status = U_ZERO_ERROR;
  if (mode == Mode::kStrict) {
    ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                        &status);
  } else {
    ucnv_setToUCallBack(converter.get(), ReplaceWithFffd, nullptr, nullptr, nullptr, &status);
  }
  if (U_FAILURE(status)) return std::nullopt;
  std::u16string utf16(cp932.size() + 1, u'\0');  // one unit per byte at most
  int32_t length = ucnv_toUChars(converter.get(), reinterpret_cast<UChar*>(utf16.data()),
                                 static_cast<int32_t>(utf16.size()), cp932.data(),
                                 static_cast<int32_t>(cp932.size()), &status);
  if (U_FAILURE(status)) return std::nullopt;
  std::string out(static_cast<std::size_t>(length) * 3 + 1, '\0');
  int32_t out_length = 0;
  u_strToUTF8(out.data(), static_cast<int32_t>(out.size()), &out_length,
              reinterpret_cast<const UChar*>(utf16.data()), length, &status);
  if (U_FAILURE(status)) return std::nullopt;
  out.resize(out_length);
  return out;
}

}  // namespace

std::optional<std::string> TryUtf8ToCp932(std::string_view utf8) {
  auto utf16 = Utf8ToUtf16(utf8, Mode::kStrict);
  if (!utf16) return std::nullopt;
  return Utf16ToCp932(*utf16, Mode::kStrict);
}

std::string Utf8ToCp932(std::string_view utf8) {
  auto utf16 = Utf8ToUtf16(utf8, Mode::kLenient);
  if (!utf16) return std::string();
  return Utf16ToCp932(*utf16, Mode::kLenient).value_or(std::string());
}

std::optional<std::string> TryCp932ToUtf8(std::string_view cp932) {
  return Cp932ToUtf8Impl(cp932, Mode::kStrict);
}

std::string Cp932ToUtf8(std::string_view cp932) {
  return Cp932ToUtf8Impl(cp932, Mode::kLenient).value_or(std::string());
}

}  // namespace kura

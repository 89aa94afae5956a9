#include "Kestro/text/UnicodeFold.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include <memory>

namespace kestro::unicode {

namespace {

icu::UnicodeString fromUtf8(std::string_view utf8) {
    return icu::UnicodeString::fromUTF8(
        icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
}

std::u16string toU16(const icu::UnicodeString& s) {
    return std::u16string(s.getBuffer(), s.getBuffer() + s.length());
}

icu::UnicodeString composed(const icu::UnicodeString& s) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status) || nfc == nullptr) {
        return s;
    }
    icu::UnicodeString out = nfc->normalize(s, status);
    return U_FAILURE(status) ? s : out;
}

// Creating a character break iterator loads rules; keep one per thread and reuse it.
icu::BreakIterator* characterIterator() {
    thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> it(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status)) {
            it.reset();
        }
        return it;
    }();
    return iterator.get();
}

} // namespace

std::u16string foldedUtf16(std::string_view utf8) {
    icu::UnicodeString s = fromUtf8(utf8);
    s.toLower(icu::Locale::getRoot());
    return toU16(composed(s));
}

std::u16string composedUtf16(std::string_view utf8) {
    return toU16(composed(fromUtf8(utf8)));
}

std::string lowercasedUtf8(std::string_view utf8) {
    icu::UnicodeString s = fromUtf8(utf8);
    s.toLower(icu::Locale::getRoot());
    std::string out;
    s.toUTF8String(out);
    return out;
}

std::vector<std::size_t> graphemeBoundaries(std::u16string_view text) {
    std::vector<std::size_t> bounds{0};
    if (text.empty()) {
        return bounds;
    }
    icu::BreakIterator* it = characterIterator();
    if (it == nullptr) {
        // Without break rules every code unit stands alone; better than failing outright.
        for (std::size_t i = 1; i <= text.size(); ++i) {
            bounds.push_back(i);
        }
        return bounds;
    }
    const icu::UnicodeString s(false, text.data(), static_cast<int32_t>(text.size()));
    it->setText(s);
    it->first();
    for (int32_t b = it->next(); b != icu::BreakIterator::DONE; b = it->next()) {
        bounds.push_back(static_cast<std::size_t>(b));
    }
    return bounds;
}

} // namespace kestro::unicode

// SPDX-License-Identifier: GPL-3.0-or-later
// Any text a child can type goes through these functions; none may crash,
// and each keeps its promises whatever the text.
#include "services/conversions.h"
#include "services/score_file.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace conversions;

namespace {

void require(bool holds, const char *promise)
{
    if (!holds) {
        std::fprintf(stderr, "broken: %s\n", promise);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));

    const std::optional<double> lenient = lenientValue(text);
    const std::optional<double> strict = strictValue(text);
    require(!lenient || std::isfinite(*lenient), "the lenient value is finite");
    require(!strict || (lenient && *strict == *lenient),
            "a strict number reads the same leniently");

    if (lenient) {
        const QString written = numberToText(*lenient);
        const std::optional<double> readBack = lenientValue(written);
        require(readBack.has_value(), "what the game writes it can read back");
        require(strictValue(written) == readBack, "what the game writes is a strict number");
        if (std::trunc(*lenient) == *lenient)
            require(*readBack == *lenient, "whole numbers read back exactly");
        require(!written.contains(u'e') && !written.contains(u' '), "no exponent, no blanks");
    }
    if (const std::optional<std::int16_t> score = strictShort(text))
        require(strictShort(shortToText(*score)) == score, "a short reads back exactly");

    // The bytes as a score file, and the text as a typed key and a value.
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    ScoreFile file(bytes);
    const ScoreFile reread(file.bytes());
    require(reread.unreadableLines().isEmpty(), "what the game writes it can read whole");
    require(reread.bytes() == file.bytes(), "a file read and written again stays the same");
    if (!text.isEmpty()) {
        file.setScore(text, text);
        require(ScoreFile(file.bytes()).score(text) == text,
                "a key and its value read back exactly");
    }
    return 0;
}

#include "app/cli/board_line.h"

#include <algorithm>

namespace vrk::cli {

namespace {

constexpr std::string_view ELLIPSIS = "...";

bool continuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The byte offset after the first `chars` characters of `text`.
std::size_t offset_of(std::string_view text, std::size_t chars) {
    std::size_t at = 0;
    for (std::size_t n = 0; at < text.size() && n < chars; ++n) {
        ++at;
        while (at < text.size() && continuation(text[at])) ++at;
    }
    return at;
}

// The forms of a shortened piece, longest first: its middle parts (between '/', or between
// spaces when it has no '/') give way one by one to "...", then the first part goes, and last
// "..." alone is left. The spaces before the piece stay with it.
std::vector<std::string> shortened_forms(const std::string& text) {
    const std::size_t lead = text.find_first_not_of(' ');
    const std::string space = text.substr(0, std::min(lead, text.size()));
    const std::string body = lead == std::string::npos ? std::string() : text.substr(lead);
    const char separator = body.find('/') != std::string::npos ? '/' : ' ';
    std::vector<std::string> parts;
    for (std::size_t start = 0;;) {
        const std::size_t end = body.find(separator, start);
        parts.push_back(body.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    std::vector<std::string> forms;
    const std::string sep(1, separator);
    std::vector<bool> kept(parts.size(), true);
    const auto form = [&] {
        std::string out;
        bool gap = false;
        bool first = true;
        for (std::size_t i = 0; i < parts.size(); ++i) {
            if (!kept[i]) {
                gap = true;
                continue;
            }
            if (gap) {
                if (!first) out += sep;
                out += ELLIPSIS;
                gap = false;
                first = false;
            }
            if (!first) out += sep;
            out += parts[i];
            first = false;
        }
        if (gap) out += (first ? "" : sep) + std::string(ELLIPSIS);
        return space + out;
    };
    // The middle parts, nearest the middle first; the last part (a file's name) stays longest.
    if (parts.size() > 2) {
        std::size_t left = (parts.size() - 1) / 2;
        std::size_t right = left + 1;
        bool take_left = true;
        for (std::size_t removed = 0; removed < parts.size() - 2; ++removed) {
            if (take_left && left >= 1) {
                kept[left--] = false;
            } else if (right <= parts.size() - 2) {
                kept[right++] = false;
            } else {
                kept[left--] = false;
            }
            take_left = !take_left;
            forms.push_back(form());
        }
    }
    if (parts.size() > 1) {
        std::fill(kept.begin(), kept.end() - 1, false);
        forms.push_back(form());
    }
    forms.push_back(space + std::string(ELLIPSIS));
    return forms;
}

// `text` cut after its last whole word that leaves room for "..." in `width` characters.
std::string cut_after_word(const std::string& text, std::size_t width) {
    if (width <= ELLIPSIS.size()) return text.substr(0, offset_of(text, width));
    const std::size_t room = offset_of(text, width - ELLIPSIS.size());
    std::size_t cut = room;
    while (cut > 0 && text[cut] != ' ') --cut;
    while (cut > 0 && text[cut - 1] == ' ') --cut;
    // A first word longer than the line itself has to be cut.
    if (cut == 0) cut = room;
    return text.substr(0, cut) + std::string(ELLIPSIS);
}

// A trimmed piece in `room` characters: its words up to the last that fits with "...", or
// "..." alone after its leading spaces; never part of a word.
std::string trimmed(const std::string& text, std::size_t room) {
    // What parts the piece from the one before (": " before a reason) stays with its words.
    const std::size_t lead = std::min(text.find_first_not_of(" :"), text.size());
    std::string best = text.substr(0, lead) + std::string(ELLIPSIS);
    for (std::size_t space = text.find(' ', lead); space != std::string::npos;
         space = text.find(' ', space + 1)) {
        if (space == 0 || text[space - 1] == ' ') continue;
        std::string candidate = text.substr(0, space) + std::string(ELLIPSIS);
        if (text_width(candidate) > room) break;
        best = std::move(candidate);
    }
    return best;
}

}  // namespace

std::size_t text_width(std::string_view text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return !continuation(c); }));
}

std::string BoardLine::text() const {
    std::string out;
    for (const BoardPiece& piece : pieces_) out += piece.text;
    return out;
}

std::string fit_line(const BoardLine& line, std::size_t width) {
    std::vector<std::string> texts;
    for (const BoardPiece& piece : line.pieces()) texts.push_back(piece.text);
    const auto joined = [&] {
        std::string out;
        for (const std::string& t : texts) out += t;
        return out;
    };
    const auto fits = [&] { return text_width(joined()) <= width; };
    const auto& pieces = line.pieces();

    for (std::size_t i = pieces.size(); i-- > 0 && !fits();)
        if (pieces[i].fit == Fit::drop) texts[i].clear();
    for (std::size_t i = pieces.size(); i-- > 0 && !fits();) {
        if (pieces[i].fit != Fit::shorten) continue;
        for (const std::string& form : shortened_forms(pieces[i].text)) {
            texts[i] = form;
            if (fits()) break;
        }
    }
    for (std::size_t i = pieces.size(); i-- > 0 && !fits();) {
        if (pieces[i].fit != Fit::trim) continue;
        const std::size_t others = text_width(joined()) - text_width(texts[i]);
        texts[i] = trimmed(pieces[i].text, width > others ? width - others : 0);
    }
    // Not even "..." fits: the shortened and trimmed pieces are left out.
    for (std::size_t i = pieces.size(); i-- > 0 && !fits();)
        if (pieces[i].fit == Fit::shorten || pieces[i].fit == Fit::trim) texts[i].clear();
    const std::string out = joined();
    if (text_width(out) <= width) return out;
    return cut_after_word(out, width);
}

}  // namespace vrk::cli

#include "ui/CRichText.h"

namespace SkinUI {

namespace {

struct TStyle {
    int font = -1;
    TColor color = 0;
    bool underline = false;
    int link = -1;
};

enum class TagKind { FONT, COLOR, LINK, UNDERLINE, PARAGRAPH };

struct TOpen {
    TagKind kind;
    TStyle saved;
};

class Builder {
public:
    std::vector<TTextRun> runs;

    void Text(std::string_view text, const TStyle& style) {
        for (char c : text) {
            if (c == '\n') {
                Break();
                continue;
            }
            if (c == '\r') continue;
            if (!runs.empty() && !runs.back().lineBreak && SameStyle(runs.back(), style)) {
                runs.back().text.push_back(c == '\t' ? ' ' : c);
            } else {
                runs.push_back({std::string(1, c == '\t' ? ' ' : c), style.font, style.color, style.underline,
                                style.link, false});
            }
        }
    }
    void Break() { runs.push_back({{}, -1, 0, false, -1, true}); }
    bool AtLineStart() const { return runs.empty() || runs.back().lineBreak; }

private:
    static bool SameStyle(const TTextRun& r, const TStyle& s) {
        return r.font == s.font && r.color == s.color && r.underline == s.underline && r.link == s.link;
    }
};

std::string_view TrimBlanks(std::string_view t) {
    while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
    while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
    return t;
}

}  // namespace

std::vector<TTextRun> CRichText::Parse(std::string_view markup) {
    Builder out;
    std::vector<TOpen> open;
    TStyle style;
    int nextLink = 0;

    auto close = [&](TagKind kind) {
        // Closes the innermost tag of this kind; a closing tag with none open is ignored.
        for (std::size_t i = open.size(); i-- > 0;) {
            if (open[i].kind == kind) {
                style = open[i].saved;
                open.erase(open.begin() + static_cast<std::ptrdiff_t>(i), open.end());
                return true;
            }
        }
        return false;
    };

    std::size_t i = 0;
    while (i < markup.size()) {
        if (markup[i] != '{') {
            std::size_t next = markup.find('{', i);
            if (next == std::string_view::npos) next = markup.size();
            out.Text(markup.substr(i, next - i), style);
            i = next;
            continue;
        }
        std::size_t end = markup.find('}', i);
        if (end == std::string_view::npos) {
            out.Text(markup.substr(i), style);
            break;
        }
        std::string_view tag = TrimBlanks(markup.substr(i + 1, end - i - 1));
        bool handled = true;
        bool canOpen = open.size() < kMaxNesting;
        if (tag == "n" || tag == "n/") {
            out.Break();
        } else if (tag == "/n") {
            // The closing half of {n} breaks nothing more.
        } else if (tag == "/f") {
            close(TagKind::FONT);
        } else if (tag == "/c") {
            close(TagKind::COLOR);
        } else if (tag == "/a") {
            close(TagKind::LINK);
        } else if (tag == "/u") {
            close(TagKind::UNDERLINE);
        } else if (tag == "/p") {
            close(TagKind::PARAGRAPH);
            out.Break();
        } else if (tag == "a" || tag.starts_with("a ")) {
            if (canOpen) {
                open.push_back({TagKind::LINK, style});
                style.link = nextLink++;
            }
        } else if (tag == "u") {
            if (canOpen) {
                open.push_back({TagKind::UNDERLINE, style});
                style.underline = true;
            }
        } else if (tag == "p") {
            if (!out.AtLineStart()) out.Break();
            if (canOpen) open.push_back({TagKind::PARAGRAPH, style});
        } else if (tag.starts_with("f ") && ParseInt(tag.substr(2), -1) >= 0) {
            if (canOpen) {
                open.push_back({TagKind::FONT, style});
                style.font = ParseInt(tag.substr(2), -1);
            }
        } else if (tag.starts_with("c ") && ParseColor(tag.substr(2))) {
            if (canOpen) {
                open.push_back({TagKind::COLOR, style});
                style.color = *ParseColor(tag.substr(2));
            }
        } else {
            handled = false;
        }
        if (handled) {
            i = end + 1;
        } else {
            // Unknown: the brace is text, and scanning goes on after it.
            out.Text(markup.substr(i, 1), style);
            ++i;
        }
    }
    return out.runs;
}

std::vector<TTextRun> CRichText::Plain(std::string_view text) {
    Builder out;
    out.Text(text, TStyle{});
    return out.runs;
}

int CRichText::CountLinks(std::string_view markup) {
    int links = -1;
    for (const auto& run : Parse(markup)) links = run.link > links ? run.link : links;
    return links + 1;
}

}  // namespace SkinUI

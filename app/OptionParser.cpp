// OptionParser: matching command-line words against an option table.
#include "app/OptionParser.h"

namespace {

// An option word is one or two hyphens followed by at least one character; "-" and "--" alone
// are ordinary words.
size_t _hyphens(const std::string& word)
{
    size_t count = 0;
    while (count < 2 && count < word.size() && word[count] == '-') {
        ++count;
    }
    return count < word.size() ? count : 0;
}

} // namespace

OptionParser::OptionParser(int argc, const char* const* argv, const OptionSpec* table)
    : table(table)
{
    for (int i = 0; i < argc; ++i) {
        words.emplace_back(argv[i] != nullptr ? argv[i] : "");
    }
}

const OptionSpec* OptionParser::_match(const std::string& text) const
{
    const size_t hyphens = _hyphens(text);
    const OptionSpec* abbreviated = nullptr;
    int candidates = 0;
    for (const OptionSpec* row = table; row->id != -1; ++row) {
        const std::string name = row->text;
        if (name == text) {
            return row;
        }
        // A prefix may stand for a row only when both carry the same hyphens and the row's
        // name after them is longer than one letter.
        if (_hyphens(name) == hyphens && name.size() > hyphens + 1 && name.size() > text.size() &&
            name.compare(0, text.size(), text) == 0) {
            abbreviated = row;
            ++candidates;
        }
    }
    return candidates == 1 ? abbreviated : nullptr;
}

bool OptionParser::Next(ParsedOption& option)
{
    while (position < words.size() && _hyphens(words[position]) == 0) {
        ++position;
    }
    if (position >= words.size()) {
        return false;
    }

    const std::string& word = words[position++];
    ParsedOption parsed;
    const size_t equals = word.find('=');
    parsed.text = word.substr(0, equals);
    const bool joined = equals != std::string::npos;

    const OptionSpec* row = _hyphens(parsed.text) != 0 ? _match(parsed.text) : nullptr;
    if (row == nullptr) {
        parsed.error = OptionError::UnknownOption;
    } else {
        parsed.id = row->id;
        parsed.name = row->text;
        if (row->argument == OptionArgument::None) {
            if (joined) {
                parsed.error = OptionError::UnexpectedArgument;
            }
        } else if (joined) {
            parsed.argument = word.substr(equals + 1);
        } else if (position < words.size() && (words[position].empty() || words[position][0] != '-')) {
            parsed.argument = words[position++];
        } else {
            // The word after, if any, is left for the next call: it is an option of its own.
            parsed.error = OptionError::MissingArgument;
        }
    }
    option = parsed;
    return true;
}

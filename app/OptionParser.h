// OptionParser: the small command-line option matcher the front end runs over its option table.
#ifndef APP_OPTIONPARSER_H
#define APP_OPTIONPARSER_H

#include <string>
#include <vector>

enum class OptionArgument {
    None,     // a flag: "-D"
    Required, // one argument, from the next word or after "=" ("-d 40F5849A", "-d=40F5849A")
};

// One row of an option table; a table ends with a row whose id is -1.
struct OptionSpec {
    int id;
    const char* text; // with its hyphens: "-d", "-OVERRIDE", "--help"
    OptionArgument argument;
};

enum class OptionError {
    None,
    UnknownOption,      // no row matches, or an abbreviation fits several rows
    MissingArgument,    // no next word, or the next word is itself an option
    UnexpectedArgument, // "=value" on an option that takes none
};

struct ParsedOption {
    int id = -1;          // the matched row's id; -1 for an unknown option
    std::string name;     // the matched row's text ("-OVERRIDE" for "-OV"); empty when unknown
    std::string text;     // the option as written, without any "=value"
    std::string argument; // empty unless the option takes one and it was found
    OptionError error = OptionError::None;
};

// Walks the command line and yields its options in order. Matching is case-sensitive; a word
// of several letters after its hyphens also matches the one row it abbreviates ("-OV" for
// "-OVERRIDE", "--he" for "--help"), one-letter rows match only in full, and words that are
// not options are skipped.
class OptionParser {
public:
    OptionParser(int argc, const char* const* argv, const OptionSpec* table);

    // Fills `option` with the next option and returns true; false when the words are used up
    // (`option` is then left alone).
    bool Next(ParsedOption& option);

private:
    const OptionSpec* _match(const std::string& text) const;

    std::vector<std::string> words;
    const OptionSpec* table;
    size_t position = 1; // word 0 is the program
};

#endif

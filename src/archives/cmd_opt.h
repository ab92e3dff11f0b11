// Builds the argument text of one library command: switches, quoted values, the archive,
// the folder and the file list (inline or through a list file). Every item is preceded by
// exactly one blank, so Text starts with a blank whenever it is not empty. The builder knows
// nothing of any library's switch meanings.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "archives/file_items.h"
#include "platform/path.h"

namespace zembrat::archives {

class TCmdOpt {
  public:
    explicit TCmdOpt(platform::PathSyntax syntax = platform::PathSyntax::Host())
        : syntax_(syntax) {}

    // Switch and value in one pair of quotes ("-wvalue") when false; the switch outside the
    // quotes (-w "value") when true.
    bool QuoteSwitch = false;
    // Applied to every file name of a file list, inline and in a list file.
    std::function<std::string(const std::string&)> FileNameHook;
    std::string Text;

    // A blank and the item as given; an empty item still adds the blank.
    void Add(std::string_view item);
    // "-name" when on.
    void AddSwitch(std::string_view name, bool on);
    // "-name" + the number in decimal, when it is 0 or more.
    void AddNumber(std::string_view name, int number);
    // Nothing for NoValue; the value quoted, with "-name" inside or before the quotes. A
    // name starting with a blank is written without it and without "-". Throws EArchiver for
    // a value holding a double quote, CR or LF, which the quoted line cannot carry.
    void AddQuoted(std::string_view name, std::string_view value);
    void AddValue(std::string_view name, std::string_view value) { AddQuoted(name, value); }
    // Nothing for an empty or NoValue folder; else the folder, ending in a delimiter.
    void AddFolder(std::string_view name, std::string_view folder);
    void AddFile(std::string_view name, const std::string& fileName);
    // AddFile for each string of the items; the count of strings. Throws EArchiver, adding
    // nothing, for a name the line cannot carry, or (in the plain file list, name empty) one
    // starting with '@', which the library would read as a list file.
    int AddFiles(std::string_view name, FileItems items);
    // Writes the names into a list file (one quoted name per CR LF line, one write) and adds
    // "@path" quoted; the count of names. A name may hold double quotes there (the line's
    // first and last quote enclose it), never a line break (EArchiver). Throws EStreamError
    // when the file cannot be written, leaving Text as it was.
    int WriteListFile(FileItems items, const std::string& path);

  private:
    std::string Hooked(const std::string& fileName) const;

    platform::PathSyntax syntax_;
};

// Throws EArchiver naming the text when it holds CR or LF.
void RefuseLineBreak(std::string_view name);
// Throws EArchiver naming the text when it holds a double quote, CR or LF.
void RefuseUnquotableName(std::string_view name);

}  // namespace zembrat::archives

// The editor of the fixes: parsing the files again, keeping an edit, and
// a few words the edits share.
#include "fix/edits.h"

#include <algorithm>
#include <string>
#include <utility>

#include "ldscript/script_edit.h"

namespace pakforge::fix::edit {
const Script* Editor::parsed(std::size_t i, ldscript::ParseError* error) {
  parsed_.resize(files_.size());
  std::optional<Parsed>& p = parsed_[i];
  if (!p || p->script.text != files_[i].text) {
    p.emplace();
    p->reads = ldscript::parseScript(files_[i].text, p->script, p->error);
  }
  if (!p->reads && error != nullptr) {
    *error = p->error;
  }
  return p->reads ? &p->script : nullptr;
}

bool Editor::load(Sections& s) {
  for (std::size_t i = 0; i < files_.size(); ++i) {
    ldscript::ParseError error;
    const Script* script = parsed(i, &error);
    if (script == nullptr) {
      out_.error = files_[i].path + ":" + ldscript::errorText(error);
      return false;
    }
    const Statement* block = script->sections();
    if (block == nullptr) {
      continue;
    }
    const bool hasText =
        std::any_of(block->body.begin(), block->body.end(), [](const Statement& st) {
          return st.kind == StatementKind::outputSection && st.name == ".text";
        });
    if (hasText) {
      s.file = i;
      s.script = *script;
      s.block = s.script.sections();
      return true;
    }
  }
  return false;
}

bool Editor::loadAny(Sections& s) {
  for (std::size_t i = 0; i < files_.size(); ++i) {
    const Script* script = parsed(i);
    if (script != nullptr && script->sections() != nullptr) {
      s.file = i;
      s.script = *script;
      s.block = s.script.sections();
      return true;
    }
  }
  return false;
}

bool Editor::loadBlock(std::string_view name, Sections& s) {
  for (std::size_t i = 0; i < files_.size(); ++i) {
    const Script* script = parsed(i);
    if (script == nullptr) {
      continue;
    }
    for (const Statement& st : script->statements) {
      if (st.kind == StatementKind::block && st.name == name) {
        s.file = i;
        s.script = *script;
        for (const Statement& again : s.script.statements) {
          if (again.kind == StatementKind::block && again.name == name) {
            s.block = &again;
          }
        }
        return true;
      }
    }
  }
  return false;
}

std::string Editor::region(const std::string& name) {
  // REGION_ALIAS("ALIAS", REGION), anywhere at the top of any file.
  for (std::size_t i = 0; i < files_.size(); ++i) {
    const Script* parsedFile = parsed(i);
    if (parsedFile == nullptr) {
      continue;
    }
    const Script& script = *parsedFile;
    for (const Statement& st : script.statements) {
      if (st.name != "REGION_ALIAS" && !st.name.starts_with("REGION_ALIAS(")) {
        continue;
      }
      std::string text = ldscript::statementText(script, st);
      text.erase(std::remove_if(text.begin(), text.end(),
                                [](char c) { return c == ' ' || c == '\t' || c == '"'; }),
                 text.end());
      const std::size_t open = text.find('(');
      const std::size_t comma = text.find(',');
      const std::size_t close = text.find(')');
      if (open != std::string::npos && comma != std::string::npos && close != std::string::npos &&
          text.substr(open + 1, comma - open - 1) == name) {
        return region(text.substr(comma + 1, close - comma - 1));
      }
    }
  }
  return name;
}

bool Editor::commit(const Sections& s, std::string text, const std::vector<std::string>& codes,
                    std::string what) {
  return commit(s, std::move(text), codes, std::vector<std::string>{std::move(what)});
}

bool Editor::commit(const Sections& s, std::string text, const std::vector<std::string>& codes,
                    std::vector<std::string> whats) {
  if (text == files_[s.file].text || whats.empty()) {
    return false;
  }
  // Parsed once: the check, and what the next edit reads.
  const std::string before = std::exchange(files_[s.file].text, std::move(text));
  ldscript::ParseError error;
  if (parsed(s.file, &error) == nullptr) {
    files_[s.file].text = before;
    out_.error = "the edit for " + whats.front() + " made a script that does not read (" +
                 ldscript::errorText(error) + ")";
    return false;
  }
  bool moves = false;
  for (const std::string& code : codes) {
    const RuleInfo* rule = findRule(code);
    moves = moves || (rule != nullptr && rule->fixKind == FixKind::movesLayout);
  }
  for (std::string& what : whats) {
    out_.changes.push_back({codes, std::move(what), moves});
  }
  return true;
}

bool Editor::anyNames(std::string_view word) {
  for (std::size_t i = 0; i < files_.size(); ++i) {
    const Script* script = parsed(i);
    if (script != nullptr && ldscript::namesWord(*script, word)) {
      return true;
    }
  }
  return false;
}

std::vector<std::string> codesPresent(const LinkDiagnosis& d, std::initializer_list<Rule> rules) {
  std::vector<std::string> codes;
  for (const Rule rule : rules) {
    if (!findingsOf(d, rule).empty()) {
      codes.emplace_back(ruleInfo(rule).code);
    }
  }
  return codes;
}

std::string join(std::initializer_list<std::string_view> parts) {
  std::string text;
  for (const std::string_view part : parts) {
    text.append(part);
  }
  return text;
}

// The index of the first token of the header that holds its ':'.
std::size_t colonToken(const Script& script, const Statement& st) {
  for (std::size_t i = st.first; i < st.open; ++i) {
    if (script.tokens[i].kind == ldscript::TokenKind::word &&
        script.tokenText(i).find(':') != std::string_view::npos) {
      return i;
    }
  }
  return st.first;
}

}  // namespace pakforge::fix::edit

#include "support/random_script.h"

#include <random>
#include <vector>

namespace {

constexpr int kNumericFunctions = 3;

class Generator {
 public:
  explicit Generator(std::uint32_t variant) : random_(variant) {}

  std::string script() {
    std::string text = "g = " + number() + "; gs = \"ab\"; var gh; gh[0] = 1; gh[\"k\"] = \"v\";\n";
    for (int i = 0; i < kNumericFunctions; ++i)
      text += numeric_function(i);
    text += "function str0(u) { return \"<\" + u + \">\"; }\n";
    text += "function bump(&r) { r = r + 1; return r; }\n";
    // Defaults that read an earlier parameter and call a function.
    text += "function dflt0(u, v = u + 1, w = str0(v)) { return u + \"/\" + v + \"/\" + w; }\n";
    // Defaults of lists, literal parts with braces and `arg`; a pattern parameter.
    text += "function dflt1(u, v = " + default_value() + ", w = " + default_list() +
            ") { return u + \"/\" + v + \"/\" + w[0] + w[1] + \"/\" + gethashcount(w); }\n";
    text += std::string("function pat1(\"<%p%>") + (chance(50) ? ":%{q, 1}[0]%" : "") +
            "\", r = p) { return p + \":\" + q + \":\" + r; }\n";
    // Returns its own variable or its parameter, which die with the call.
    text += "function keep0(u) { k = u + \"!\"; if (len(k) > 3) return k; return u; }\n";
    text += plain_function();
    text += "function main() {\n  var h; s = \"\"; t = \"1\"; a = " + number() +
            "; b = " + number() + ";\n  lineecho(0, \"p \" + plain0(a, b));\n";
    int statements = 3 + pick(6);
    for (int i = 0; i < statements; ++i)
      text += statement(1);
    text +=
        "  return \"\" + a + \"|\" + b + \"|\" + c + \"|\" + d + \"|\" + s + \"|\" + t + \"|\" + "
        "g + \"|\" + h[0] + h[1] + h[2] + h[3];\n}\n";
    return text;
  }

 private:
  int pick(int n) { return static_cast<int>(random_() % static_cast<std::uint32_t>(n)); }
  bool chance(int percent) { return pick(100) < percent; }

  std::string number() {
    static const char* const kNumbers[] = {
        "0",  "1",   "2", "3", "7", "100", "65536", "-1", "-5", "2147483647", "(-2147483647 - 1)",
        "12", "1000"};
    if (chance(30)) return std::to_string(pick(20));
    return kNumbers[pick(static_cast<int>(std::size(kNumbers)))];
  }

  std::string text_literal() {
    static const char* const kTexts[] = {"\"\"", "\"ab\"", "\"12\"", "\"x y\"", "\"0\"", "\"-3\""};
    return kTexts[pick(static_cast<int>(std::size(kTexts)))];
  }

  // A default that reads the first parameter (or the call's arguments).
  std::string default_value() {
    static const char* const kValues[] = {
        "u + 1",  "{u, 2}[1]",        "\"<%{u, 3}[0]%>\"", "\"%u%-%{4}[0]%\"",
        "arg[0]", "gethashcount(arg)"};
    return kValues[pick(static_cast<int>(std::size(kValues)))];
  }

  // A default made of braces or read from them.
  std::string default_list() {
    static const char* const kLists[] = {"str0(v)", "{v, u + 1}", "\"%{v, u}[1]%\"", "{arg[0], v}"};
    return kLists[pick(static_cast<int>(std::size(kLists)))];
  }

  // A number variable the statements may assign; in a numeric function only its parameters.
  std::string variable() {
    if (!names_.empty()) return names_[pick(static_cast<int>(names_.size()))];
    static const char* const kNames[] = {"a", "b", "c", "d", "a", "b", "g"};
    return kNames[pick(static_cast<int>(std::size(kNames)))];
  }

  // A number that may be read: variables, loop counters and block variables.
  std::string readable() {
    if (names_.empty() && !readable_.empty() && chance(30))
      return readable_[pick(static_cast<int>(readable_.size()))];
    return variable();
  }

  // An expression of numbers; rarely a text, whose operators then fail.
  std::string expression(int depth) {
    if (names_.empty() && pick(1000) < 3) return text(depth - 1);
    if (depth <= 0 || chance(25)) return chance(40) ? number() : readable();
    int kind = pick(names_.empty() ? 13 : 9);
    switch (kind) {
      case 0:
      case 1:
      case 2:
      case 3: {
        static const char* const kOperators[] = {
            "+",  "-", "*",  "/",  "%",  "&",  "|",  "^", "<<", ">>", "<",
            "<=", ">", ">=", "==", "!=", "&&", "||", "+", "-",  "<"};
        std::string op = kOperators[pick(static_cast<int>(std::size(kOperators)))];
        std::string left = expression(depth - 1);
        std::string right = expression(depth - 1);
        if ((op == "/" || op == "%") && chance(95)) right = "(" + right + " | 1)";
        return "(" + left + " " + op + " " + right + ")";
      }
      case 4: {
        static const char* const kUnary[] = {"-", "!", "~"};
        return std::string(kUnary[pick(3)]) + "(" + expression(depth - 1) + ")";
      }
      case 5:
      case 6:
      case 7: {
        if (!calls_allowed_) return number();
        int callee = pick(kNumericFunctions);
        return "num" + std::to_string(callee) + "(" + bound_argument(depth) + ", " +
               expression(depth - 1) + ")";
      }
      case 8:
        return "(" + expression(depth - 1) + " " + (chance(50) ? "==" : "!=") + " " +
               expression(depth - 1) + ")";
      case 9:
        if (chance(50)) return "instr(" + text(depth - 1) + ", \"b\")";
        return "len(" + text(depth - 1) + ")";
      case 10:
        return "(" + text(depth - 1) + " " + (chance(50) ? "==" : "!=") + " " + text(depth - 1) +
               ")";
      case 11: {
        std::string name = variable();
        if (name == "g") return name;
        static const char* const kSteps[] = {"++", "--"};
        return chance(50) ? name + kSteps[pick(2)] : std::string(kSteps[pick(2)]) + name;
      }
      case 12:
        return chance(70) ? "h[(" + expression(depth - 1) + ") & 3]" : "gh[0]";
    }
    return readable();
  }

  // An expression of texts.
  std::string text(int depth) {
    int kind = depth <= 0 ? pick(3) : pick(10);
    switch (kind) {
      case 0:
        return text_literal();
      case 1:
        return chance(50) ? "s" : "t";
      case 2:
        return "gh[\"k\"]";
      case 3:
        return "(\"\" + " + expression(depth - 1) + ")";
      case 4:
        return "(" + text(depth - 1) + " + " + text(depth - 1) + ")";
      case 5:
        return "str0(" + (chance(50) ? text(depth - 1) : expression(depth - 1)) + ")";
      case 6:
        return "(" + text(depth - 1) + " + " + expression(depth - 1) + ")";
      case 7:
        return "keep0(" + text(depth - 1) + ")";
      case 8:
        if (chance(50)) return "dflt1(" + expression(depth - 1) + ")";
        return "dflt1(" + expression(depth - 1) + ", " + text(depth - 1) + ")";
      case 9:
        return "pat1(\"<\" + " + text(depth - 1) + " + \">:\" + " + expression(depth - 1) + ")";
    }
    return text_literal();
  }

  // A function of its own besides main, with the same kinds of statements.
  std::string plain_function() {
    std::string text = "function plain0(a, b) {\n  var h; c = 0; d = 0; s = \"\"; t = \"1\";\n";
    int statements = 2 + pick(5);
    in_plain_ = true;
    for (int i = 0; i < statements; ++i)
      text += statement(1);
    in_plain_ = false;
    text +=
        "  return \"\" + a + \"|\" + b + \"|\" + c + \"|\" + d + \"|\" + s + \"|\" + t + \"|\" + "
        "h[0] + h[1] + h[2] + h[3];\n}\n";
    return text;
  }

  // The first argument of a numeric function: small, so that the recursion it bounds ends soon.
  std::string bound_argument(int depth) {
    if (in_numeric_) return "x - 1";
    return "(" + expression(depth - 1) + ") & 3";
  }

  std::string numeric_function(int index) {
    names_ = {"x", "y"};
    in_numeric_ = true;
    calls_allowed_ = false;  // the base case calls nothing: the recursion ends there
    std::string base = expression(2);
    calls_allowed_ = true;
    std::string step = expression(3);
    std::string text = "function num" + std::to_string(index) + "(x, y) { if (x <= 0) return " +
                       base + "; return " + step + "; }\n";
    names_.clear();
    in_numeric_ = false;
    return text;
  }

  std::string indent(int level) { return std::string(2 * level, ' '); }

  std::string body(int level) {
    std::string text;
    int statements = 1 + pick(3);
    for (int i = 0; i < statements; ++i)
      text += statement(level);
    return text;
  }

  std::string statement(int level) {
    std::string pad = indent(level);
    int kind = pick(level >= 4 ? 7 : 22);
    switch (kind) {
      case 0:
      case 1:
        // Now and then a chain of assignments, whose inner values go on to the outer ones.
        if (chance(10)) {
          return pad + variable() + " = " + variable() + " = h[(" + readable() +
                 ") & 3] = " + expression(2) + ";\n";
        }
        return pad + variable() + " = " + expression(3) + ";\n";
      case 2:
        return pad + "lineecho(0, \"v \" + " + expression(3) + ");\n";
      case 3: {
        static const char* const kSteps[] = {"++", "--"};
        std::string name = variable();
        return pad + (chance(50) ? name + kSteps[pick(2)] : kSteps[pick(2)] + name) + ";\n";
      }
      case 4:
        return pad + "h[(" + expression(2) + ") & 3] = " + expression(2) + ";\n";
      case 5:
        if (in_plain_ && chance(level == 1 ? 20 : 8)) {
          // The call ends early, or the innermost loop or switch: a return hands out what the
          // statements before it left in its loop's pass, switch or braces, if anything (here a
          // list the if's braces made); a break or a continue past every loop yields 0.
          static const char* const kEnds[] = {"return", "break", "continue"};
          const int ends = switches_ > 0 && loops_ == 0 ? 2 : 3;
          std::string left = pad + "if (" + expression(2) + ") { " + variable() + " + 1 } ";
          std::string end = "if (" + expression(2) + ") return;";
          switch (pick(4)) {
            case 0:  // a return in braces, a loop or a switch after the list
              return left + "{ " + end + " a = a + 1; }\n";
            case 1:
              return left + "while (a != 7) { " + end + " a = 7; }\n";
            case 2:
              return left + "switch ((" + expression(2) + ") & 3) { case 1: " + end + " }\n";
            default:
              return left + "if (" + expression(2) + ") " + kEnds[pick(ends)] + ";\n";
          }
        }
        if (loops_ > 0 || switches_ > 0) {
          bool may_continue = loops_ > 0;
          // A count leaves further loops or switches, or the call past them all.
          static const char* const kCounts[] = {"", "", " 1", " 0", " -2", " \"1\""};
          return pad + "if (" + expression(2) + ") " +
                 (may_continue && chance(50) ? "continue" : "break") + kCounts[pick(6)] + ";\n";
        }
        {
          // Texts stay short: doubling one in nested loops would take all memory.
          std::string name = chance(50) ? "s" : "t";
          return pad + name + " = " + text(2) + "; if (len(" + name + ") > 24) " + name +
                 " = \"\";\n";
        }
      case 6:
        // Destructuring: captures into names, elements and a block's variable; a capture that
        // takes no part, "%%", the value read from a variable a target is; the value used.
        switch (pick(6)) {
          case 5:
            // Targets with calls and steps: each a statement of its own.
            return pad + "\"^%h[bump(" + variable() +
                   ") & 3]%-%(q)%-%h[(c++) & 3]%$\" = " + text(2) + " + \"-\" + " + expression(2) +
                   " + \"-x\"; a = a + len(q);\n";
          case 0:
            return pad + "\"^%p%-%q%$\" = " + text(2) + " + \"-\" + " + expression(2) +
                   "; t = q + p; if (len(t) > 24) t = \"\"; a = a + len(p);\n";
          case 1:
            return pad + "\"^%h[1]%(x%q%)?[0-9]*%%?%p%$\" = " + text(2) +
                   "; a = a + len(q) + len(h[1]);\n";
          case 2:
            return pad + "if (\"%p%b\" = " + text(2) + ") a = a + len(p); else b = b + 1;\n";
          case 3:
            return pad + "\"^(%p%)(%h[(" + readable() + ") & 3]%)\" = p; t = p + \"|\" + h[" +
                   variable() + " & 3]; if (len(t) > 24) t = \"\";\n";
          default: {
            std::string name = "v" + std::to_string(level);
            return pad + "{\n" + pad + "  \"^%" + name + "%.$\" = " + text(2) + "; t = \"\" + " +
                   name + "; if (len(t) > 24) t = \"\";\n" + pad + "}\n";
          }
        }
      case 7:
      case 8: {
        // Now and then the braces' last statement has no end: they leave its value as a list.
        std::string last = chance(15) ? pad + "  " + variable() + " + 1\n" : "";
        std::string text =
            pad + "if (" + expression(3) + ") {\n" + body(level + 1) + last + pad + "}";
        if (chance(50)) text += " else {\n" + body(level + 1) + pad + "}";
        return text + "\n";
      }
      case 9:
      case 10: {
        std::string counter = "i" + std::to_string(level);
        std::string bound = std::to_string(1 + pick(4));
        readable_.push_back(counter);
        ++loops_;
        // Now and then the body's last statement has no end: its value goes with the pass.
        std::string last = chance(20) ? pad + "  h[" + counter + " & 3]\n" : "";
        std::string text = pad + "for (" + counter + " = 0; " + counter + " < " + bound + "; " +
                           counter + "++) {\n" + body(level + 1) + last + pad + "}\n";
        --loops_;
        readable_.pop_back();
        return text;
      }
      case 11: {
        std::string counter = "w" + std::to_string(level);
        std::string bound = std::to_string(1 + pick(4));
        readable_.push_back(counter);
        ++loops_;
        std::string text = pad + counter + " = 0;\n" + pad + "while (" + counter + " < " + bound +
                           ") {\n" + pad + "  " + counter + "++;\n" + body(level + 1) + pad + "}\n";
        --loops_;
        readable_.pop_back();
        return text;
      }
      case 12: {
        std::string counter = "k" + std::to_string(level);
        std::string bound = std::to_string(1 + pick(3));
        readable_.push_back(counter);
        ++loops_;
        std::string text = pad + counter + " = 0;\n" + pad + "do {\n" + pad + "  " + counter +
                           "++;\n" + body(level + 1) + pad + "} while (" + counter + " < " + bound +
                           ");\n";
        --loops_;
        readable_.pop_back();
        return text;
      }
      case 13: {
        // Sometimes a qualified name (a local under the whole dotted name), or one declared
        // with "&" (the plain name).
        const int form = pick(4);
        std::string name = (form == 0 ? "." : "") + std::string("v") + std::to_string(level);
        readable_.push_back(name);
        std::string text = pad + "{\n" + pad + "  var " + (form == 1 ? "&" : "") + name + " = " +
                           expression(2) + ";\n" + body(level + 1) + pad + "  a = a + " + name +
                           ";\n" + pad + "}\n";
        readable_.pop_back();
        return text;
      }
      case 14: {
        std::string text = pad + "switch ((" + expression(2) + ") & 3) {\n";
        ++switches_;  // break leaves the switch
        text += pad + "  case 0:\n" + body(level + 2);
        if (chance(50)) text += pad + "    break;\n";
        text += pad + "  case 1:\n" + body(level + 2) + pad + "    break;\n";
        text += pad + "  default:\n" + body(level + 2);
        --switches_;
        return text + pad + "}\n";
      }
      case 15:
        return pad + "lineecho(0, \"r \" + bump(" + variable() + "));\n";
      case 16: {
        std::string text = pad + "switch (" + this->text(2) + ") {\n";
        ++switches_;
        text += pad + "  case \"ab\":\n" + body(level + 2) + pad + "    break;\n";
        text += pad + "  case \"12\":\n" + pad + "  case \"\":\n" + body(level + 2);
        text += pad + "  default:\n" + body(level + 2);
        --switches_;
        return text + pad + "}\n";
      }
      case 17:
        return pad + "h[\"x\"] = " + expression(2) + "; a = a + h[\"x\"] + len(gh[\"k\"]);\n";
      case 18:
        // Embedded expressions: loop counters, block variables, names not yet set.
        if (chance(30)) {
          // Parts with calls, steps and assignments, which a later part sees; more parts than
          // are joined from the stack.
          std::string v = variable();
          if (chance(50)) {
            return pad + "t = \"%" + v + "%|%(" + v + "++)%|%bump(" + v + ")%|%(" + v + " = " + v +
                   " * 2)%|%len(str0(" + v + "))%|%" + v + "%\"; a = a + len(t); t = \"\";\n";
          }
          return pad + "t = \"%" + v + "%%b%%c%%(--" + v + ")%%d%%" + v +
                 "%%(b++)%%a%%keep0(c)%%b%\"" + "; if (len(t) > 24) t = \"\";\n";
        }
        if (chance(20)) {
          // Braces that make a list in a part: the part is its first value.
          std::string v = variable();
          return pad + "t = \"%{" + v + "++, " + readable() + "}[1]%|%{bump(" + v + "), " + v +
                 "}[0]%|%{" + v + ", {1, " + v + "}}[1]%\"; a = a + len(t); t = \"\";\n";
        }
        if (chance(50)) {
          return pad + "t = \"[%" + readable() + "%|%" + variable() +
                 "%|%p%]\t\"; if (len(t) > 24) t = \"\";\n";
        }
        // Indexes, operators and literals inside the parts; escapes and "%%" without parts.
        return pad + "t = \"%h[\\\"x\\\"]%,%(" + readable() + " * 2 - " + variable() +
               ")%,%gh[\\\"k\\\"]%%%\" + \"\\t%%\"; if (len(t) > 24) t = \"\";\n";
      case 19: {
        static const char* const kArguments[] = {"", ", 5", ", \"x\", gs"};
        return pad + "lineecho(0, \"d \" + dflt0(" + expression(2) + kArguments[pick(3)] + "));\n";
      }
      case 21:
        // List literals: the names of the variables they list (not of elements), nested lists,
        // commas that stand for values.
        if (chance(50)) {
          return pad + "lineecho(0, \"l \" + gethashkey({" + variable() +
                 ", 1}, 0) + gethashcount({" + expression(2) + ", {" + expression(2) + "}}));\n";
        }
        if (chance(50)) {
          return pad + "lineecho(0, \"m \" + gethashkey({h[1], " + variable() + "}, " +
                 std::to_string(pick(2)) + ") + gethashcount({, " + readable() + ", {}, {, }}));\n";
        }
        // Assignments name their values: a new name vanishes after the braces, a known one keeps
        // the value; an element lends no name.
        return pad + "lineecho(0, \"n \" + gethashkey({w = " + expression(2) + ", " + variable() +
               " = " + expression(2) + ", h[2] = " + variable() + "}, " + std::to_string(pick(3)) +
               ") + w);\n";
      case 20: {
        // Labels that are expressions, run in order until one matches.
        std::string text = pad + "switch ((" + expression(2) + ") & 3) {\n";
        ++switches_;
        text += pad + "  case (" + expression(2) + ") & 3:\n" + body(level + 2);
        if (chance(50)) text += pad + "    break;\n";
        text += pad + "  case 2:\n" + pad + "  case " + variable() + " & 3:\n" + body(level + 2);
        if (chance(50)) {
          // Labels that assign, step and call: they run only until one is chosen.
          std::string name = variable();
          text += pad + "  case (" + name + "++) & 3:\n" + pad + "  case (c = bump(" + name +
                  ")) & 3:\n" + body(level + 2);
        } else if (chance(50)) {
          // Labels whose braces make a list: the first value is compared.
          std::string name = variable();
          text += pad + "  case {bump(" + name + ") & 3, " + name + "}[1] & 3:\n" + pad +
                  "  case {" + name + "++ & 3, 1}:\n" + body(level + 2);
        }
        text += pad + "  default:\n" + body(level + 2);
        --switches_;
        return text + pad + "}\n";
      }
    }
    return pad + "a = a + 1;\n";
  }

  std::mt19937 random_;
  std::vector<std::string> names_;     // in a numeric function: its parameters
  std::vector<std::string> readable_;  // loop counters and block variables in scope
  bool in_numeric_ = false;
  bool in_plain_ = false;  // in plain0, whose result main shows
  bool calls_allowed_ = true;
  int loops_ = 0;     // loops around the statement (continue goes to the innermost)
  int switches_ = 0;  // switches inside the innermost loop or around the statement
};

}  // namespace

std::string random_script(std::uint32_t variant) {
  return Generator(variant).script();
}

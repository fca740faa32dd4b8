#include "chat_lines.h"

#include <algorithm>

namespace {

// splitmix64: the same numbers on every platform and standard library.
class Random {
 public:
  explicit Random(std::uint64_t start) : state_(start) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // 0 .. n-1; n must not be 0.
  std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }
  bool percent(std::size_t p) { return below(100) < p; }
  template <typename T>
  const T& pick(const std::vector<T>& items) {
    return items[below(items.size())];
  }

 private:
  std::uint64_t state_;
};

const std::vector<std::string> kNickBases = {
    "aki",  "bob",  "carol", "dai", "emi", "fumi", "gen",  "hana", "ichi", "jun",
    "ken",  "luna", "mika",  "nao", "oto", "pia",  "riku", "sora", "taro", "umi",
    "vera", "wes",  "yuki",  "zen", "kai", "momo", "rin",  "shin", "tomo", "haru"};

const std::vector<std::string> kWords = {
    "the",    "a",     "is",    "it",     "ok",     "yes",   "no",    "maybe", "build",
    "test",   "fixed", "broke", "again",  "today",  "later", "lunch", "going", "home",
    "server", "patch", "works", "for",    "me",     "you",   "we",    "that",  "this",
    "was",    "nice",  "lol",   "thanks", "anyone", "seen",  "new",   "log",   "what",
    "why",    "how",   "when",  "there",  "here",   "soon",  "sleep", "good",  "night"};

const std::vector<std::string> kReasons = {
    "", "bye", "see you", "Quit: leaving", "Ping timeout: 240 seconds", "Remote host closed"};

// Channel names as the server spells them; the script compares them in lower case.
const std::vector<std::string> kChannels = {"#lumo",  "#dev",   "#random", "#Japan",
                                            "#music", "#games", "#news",   "#Help"};

struct ChannelState {
  std::string name;
  std::vector<std::string> members;  // not us
};

class Generator {
 public:
  explicit Generator(std::uint32_t variant) : random_(0x6C756D6Full ^ variant) {}

  std::vector<std::string> run(std::size_t count) {
    welcome();
    for (const std::string& name : kChannels)
      join_own(name);
    while (lines_.size() < count)
      traffic();
    lines_.resize(count);
    return std::move(lines_);
  }

 private:
  void add(std::string line) { lines_.push_back(std::move(line)); }
  std::string server(const char* numeric) {
    return std::string(":") + CHAT_SERVER + " " + numeric + " " + CHAT_OWN_NICK + " ";
  }

  // ":nick!~user@127.0.0.N", the user name and address fixed per base name.
  std::string prefix(const std::string& nick) {
    std::string base;
    for (char c : nick) {
      if (c >= '0' && c <= '9') break;
      base += static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
    }
    std::size_t address = 1 + (base.size() * 37 + static_cast<unsigned char>(base[0])) % 250;
    return ":" + nick + "!~" + base + "@127.0.0." + std::to_string(address);
  }

  // A new nick: a base name with a number, now and then capitalised.
  std::string fresh_nick() {
    std::string nick = random_.pick(kNickBases) + std::to_string(serial_++);
    if (random_.percent(15)) nick[0] = static_cast<char>(nick[0] - ('a' - 'A'));
    return nick;
  }

  std::string ascii_text() {
    std::string text;
    std::size_t words = 2 + random_.below(12);
    for (std::size_t i = 0; i < words; ++i) {
      if (i > 0) text += ' ';
      text += random_.pick(kWords);
    }
    if (random_.percent(8)) text += " http://localhost/notes/" + std::to_string(random_.below(900));
    if (random_.percent(10)) text = (random_.percent(50) ? "lumo: " : "hey LUMO ") + text;
    if (random_.percent(20)) text += random_.percent(50) ? "?" : "!";
    return text;
  }

  // Japanese in ISO-2022-JP: hiragana, katakana and level-1 kanji between the escapes.
  std::string jis_run() {
    std::string run = "\x1b$B";
    std::size_t characters = 2 + random_.below(14);
    for (std::size_t i = 0; i < characters; ++i) {
      std::size_t kind = random_.below(10);
      if (kind < 5) {
        run += '\x24';
        run += static_cast<char>(0x21 + random_.below(0x53));  // hiragana
      } else if (kind < 7) {
        run += '\x25';
        run += static_cast<char>(0x21 + random_.below(0x56));  // katakana
      } else {
        run += static_cast<char>(0x30 + random_.below(0x1F));  // kanji rows 16-46
        run += static_cast<char>(0x21 + random_.below(0x5E));
      }
    }
    if (random_.percent(40)) run += "\x21\x23";  // full stop
    return run + "\x1b(B";
  }

  std::string japanese_text() {
    std::string text = jis_run();
    if (random_.percent(30)) text += " " + random_.pick(kWords) + " " + jis_run();
    if (random_.percent(10)) text = "lumo: " + text;
    return text;
  }

  std::string message_text() { return random_.percent(30) ? japanese_text() : ascii_text(); }

  ChannelState& some_channel() { return channels_[random_.below(channels_.size())]; }

  // A member of some channel, or a fresh nick when every channel is empty.
  std::string some_member(ChannelState** where = nullptr) {
    for (int tries = 0; tries < 8; ++tries) {
      ChannelState& channel = some_channel();
      if (channel.members.empty()) continue;
      if (where != nullptr) *where = &channel;
      return random_.pick(channel.members);
    }
    if (where != nullptr) *where = nullptr;
    return fresh_nick();
  }

  static void remove(std::vector<std::string>* members, const std::string& nick) {
    members->erase(std::remove(members->begin(), members->end(), nick), members->end());
  }
  static bool has(const std::vector<std::string>& members, const std::string& nick) {
    return std::find(members.begin(), members.end(), nick) != members.end();
  }

  void welcome() {
    add(server("001") + ":Welcome to the test network " + CHAT_OWN_NICK + "!~lumo@127.0.0.1");
    add(server("002") + ":Your host is " + CHAT_SERVER);
    add(server("005") + "CHANTYPES=# NICKLEN=30 PREFIX=(ov)@+ :are supported by this server");
    add(server("375") + ":- " + CHAT_SERVER + " Message of the day -");
    for (int i = 0; i < 3; ++i)
      add(server("372") + ":- " + ascii_text());
    add(server("376") + ":End of MOTD command");
  }

  void join_own(const std::string& name) {
    ChannelState channel{name, {}};
    std::size_t members = 20 + random_.below(30);
    for (std::size_t i = 0; i < members; ++i) {
      // Some people sit in several channels.
      std::string nick = !channels_.empty() && random_.percent(30) ? some_member() : fresh_nick();
      if (!has(channel.members, nick)) channel.members.push_back(nick);
    }
    channels_.push_back(channel);
    add(":" + std::string(CHAT_OWN_NICK) + "!~lumo@127.0.0.1 JOIN :" + name);
    add(server("332") + name + " :" + message_text());
    add(server("333") + name + " " + channel.members[0] + " " +
        std::to_string(1700000000 + random_.below(9000000)));
    names(channels_.back());
  }

  // 353 lines of at most 12 names, operators and voiced members marked, then 366.
  void names(const ChannelState& channel) {
    std::string list;
    std::size_t on_line = 0;
    for (std::size_t i = 0; i < channel.members.size(); ++i) {
      if (on_line > 0) list += ' ';
      if (i == 0 || random_.percent(10)) {
        list += '@';
      } else if (random_.percent(10)) {
        list += '+';
      }
      list += channel.members[i];
      if (++on_line == 12) {
        add(server("353") + "= " + channel.name + " :" + list);
        list.clear();
        on_line = 0;
      }
    }
    if (on_line > 0) add(server("353") + "= " + channel.name + " :" + list);
    add(server("366") + channel.name + " :End of NAMES list");
  }

  void traffic() {
    std::size_t roll = random_.below(1000);
    if (roll < 520) {
      ChannelState* channel = nullptr;
      std::string from = some_member(&channel);
      if (channel == nullptr) return join();
      add(prefix(from) + " PRIVMSG " + channel->name + " :" + message_text());
    } else if (roll < 580) {
      // Private messages come mostly from a few people, so conversations go on.
      std::string from = random_.percent(60) ? kNickBases[random_.below(5)] : some_member();
      add(prefix(from) + " PRIVMSG " + CHAT_OWN_NICK + " :" + message_text());
    } else if (roll < 610) {
      std::string from = some_member();
      std::string target = random_.percent(65) ? some_channel().name : CHAT_OWN_NICK;
      add(prefix(from) + " NOTICE " + target + " :" + ascii_text());
    } else if (roll < 690) {
      join();
    } else if (roll < 755) {
      part();
    } else if (roll < 800) {
      quit();
    } else if (roll < 830) {
      nick_change();
    } else if (roll < 860) {
      names(some_channel());
    } else if (roll < 880) {
      add(server("332") + some_channel().name + " :" + message_text());
    } else if (roll < 890) {
      add(server("333") + some_channel().name + " " + some_member() + " " +
          std::to_string(1700000000 + random_.below(9000000)));
    } else if (roll < 905) {
      ChannelState* channel = nullptr;
      std::string from = some_member(&channel);
      if (channel == nullptr) return join();
      add(prefix(from) + " TOPIC " + channel->name + " :" + message_text());
    } else if (roll < 920) {
      ChannelState* channel = nullptr;
      std::string from = some_member(&channel);
      if (channel == nullptr) return join();
      add(prefix(from) + " MODE " + channel->name + (random_.percent(50) ? " +o " : " +v ") +
          random_.pick(channel->members));
    } else if (roll < 930) {
      kick();
    } else if (roll < 950) {
      add(std::string("PING :") + CHAT_SERVER);
    } else if (roll < 965) {
      add(server("372") + ":- " + ascii_text());
    } else if (roll < 975) {
      add(server("401") + fresh_nick() + " :No such nick/channel");
    } else if (roll < 995) {
      ChannelState* channel = nullptr;
      std::string from = some_member(&channel);
      if (channel == nullptr) return join();
      add(prefix(from) + " PRIVMSG " + channel->name + " :\x01" + "ACTION " + ascii_text() +
          "\x01");
    } else {
      add(prefix(some_member()) + " PRIVMSG " + CHAT_OWN_NICK + " :\x01VERSION\x01");
    }
  }

  void join() {
    ChannelState& channel = some_channel();
    std::string nick;
    for (int tries = 0; tries < 4 && (nick.empty() || has(channel.members, nick)); ++tries)
      nick = random_.percent(50) ? some_member() : fresh_nick();
    if (has(channel.members, nick)) nick = fresh_nick();
    channel.members.push_back(nick);
    // Servers differ in whether the channel is a trailing parameter.
    add(prefix(nick) + " JOIN " + (random_.percent(80) ? ":" : "") + channel.name);
  }

  void part() {
    ChannelState& channel = some_channel();
    if (channel.members.size() < 5) return join();
    std::string nick = random_.pick(channel.members);
    remove(&channel.members, nick);
    std::string reason = random_.percent(30) ? japanese_text() : random_.pick(kReasons);
    add(prefix(nick) + " PART " + channel.name + (reason.empty() ? "" : " :" + reason));
  }

  void quit() {
    ChannelState* where = nullptr;
    std::string nick = some_member(&where);
    if (where == nullptr) return join();
    for (ChannelState& channel : channels_)
      remove(&channel.members, nick);
    std::string reason = random_.percent(20) ? japanese_text() : random_.pick(kReasons);
    add(prefix(nick) + " QUIT :" + reason);
  }

  void nick_change() {
    ChannelState* where = nullptr;
    std::string nick = some_member(&where);
    if (where == nullptr) return join();
    std::string renamed = fresh_nick();
    for (ChannelState& channel : channels_)
      std::replace(channel.members.begin(), channel.members.end(), nick, renamed);
    add(prefix(nick) + " NICK :" + renamed);
  }

  void kick() {
    ChannelState& channel = some_channel();
    if (channel.members.size() < 5) return join();
    std::string by = channel.members[0];
    std::string victim = random_.pick(channel.members);
    if (victim == by) return;
    remove(&channel.members, victim);
    add(prefix(by) + " KICK " + channel.name + " " + victim + " :" + random_.pick(kReasons));
  }

  Random random_;
  std::vector<ChannelState> channels_;
  std::vector<std::string> lines_;
  std::size_t serial_ = 1;
};

}  // namespace

std::vector<std::string> make_chat_lines(std::size_t count, std::uint32_t variant) {
  return Generator(variant).run(count);
}

// The built-in table, in its fixed row order. Signatures are computed at compile time.
#include "engine/builtin_table.h"

#include <cstdio>
#include <cstring>

#include "builtins/hash.h"
#include "builtins/jcode.h"
#include "builtins/regex_builtins.h"
#include "builtins/sockets.h"
#include "builtins/strings.h"
#include "builtins/window.h"

namespace {

constexpr const char* kPrefix = LUMO_EXPORT_PREFIX;

// Rows whose built-in is not in this build yet share one failure: "<name>: not implemented".
template <int Row>
std::int32_t LUMO_CALL not_implemented(CallContext*, ValueNode*, ValueNode*, char* message);

constexpr BuiltinRow make_row(const char* full_name, NativeFunction entry) {
  return BuiltinRow{full_name, name_hash_of(full_name), entry};
}

}  // namespace

constinit const BuiltinRow BuiltinTable[BUILTIN_COUNT] = {
    make_row("_sfunc_error", builtin_error),
    make_row("_sfunc_istype", builtin_istype),
    make_row("_sfunc_int", builtin_int),
    make_row("_sfunc_uintstr", builtin_uintstr),
    make_row("_sfunc_getlocale", not_implemented<4>),
    make_row("_sfunc_setlocale", not_implemented<5>),
    make_row("_sfunc_sleep", not_implemented<6>),
    make_row("_sfunc_getsystemtime", not_implemented<7>),
    make_row("_sfunc_setsystemtime", not_implemented<8>),
    make_row("_sfunc_getlocaltime", not_implemented<9>),
    make_row("_sfunc_setlocaltime", not_implemented<10>),
    make_row("_sfunc_comparetime", not_implemented<11>),
    make_row("_sfunc_difftime", not_implemented<12>),
    make_row("_sfunc_getdatestring", not_implemented<13>),
    make_row("_sfunc_getdate", not_implemented<14>),
    make_row("_sfunc_gettimestring", not_implemented<15>),
    make_row("_sfunc_gettime", not_implemented<16>),
    make_row("_sfunc_chr", builtin_chr),
    make_row("_sfunc_asc", builtin_asc),
    make_row("_sfunc_string", builtin_string),
    make_row("_sfunc_trim", builtin_trim),
    make_row("_sfunc_len", builtin_len),
    make_row("_sfunc_left", builtin_left),
    make_row("_sfunc_strcmp", builtin_strcmp),
    make_row("_sfunc_strmatch", builtin_strmatch),
    make_row("_sfunc_right", builtin_right),
    make_row("_sfunc_mid", builtin_mid),
    make_row("_sfunc_instr", builtin_instr),
    make_row("_sfunc_tolower", builtin_tolower),
    make_row("_sfunc_toupper", builtin_toupper),
    make_row("_sfunc_gethashcount", builtin_gethashcount),
    make_row("_sfunc_sethashcount", builtin_sethashcount),
    make_row("_sfunc_gethashkey", builtin_gethashkey),
    make_row("_sfunc_sethashkey", builtin_sethashkey),
    make_row("_sfunc_ishashkey", builtin_ishashkey),
    make_row("_sfunc_hashinsert", builtin_hashinsert),
    make_row("_sfunc_hashdelete", builtin_hashdelete),
    make_row("_sfunc_hashfind", builtin_hashfind),
    make_row("_sfunc_hashkeysort", builtin_hashkeysort),
    make_row("_sfunc_hashsort", builtin_hashsort),
    make_row("_sfunc_hashcopy", builtin_hashcopy),
    make_row("_sfunc_hashmerge", builtin_hashmerge),
    make_row("_sfunc_hashtostring", builtin_hashtostring),
    make_row("_sfunc_stringtohash", builtin_stringtohash),
    make_row("_sfunc_regmatch", builtin_regmatch),
    make_row("_sfunc_regmatchall", builtin_regmatchall),
    make_row("_sfunc_regreplace", builtin_regreplace),
    make_row("_sfunc_isleadchar", builtin_isleadchar),
    make_row("_sfunc_getcodetype", builtin_getcodetype),
    make_row("_sfunc_sjistojis", builtin_sjistojis),
    make_row("_sfunc_jistosjis", builtin_jistosjis),
    make_row("_sfunc_sjistoeuc", builtin_sjistoeuc),
    make_row("_sfunc_euctosjis", builtin_euctosjis),
    make_row("_sfunc_hashtosjis", builtin_hashtosjis),
    make_row("_sfunc_base64decode", builtin_base64decode),
    make_row("_sfunc_base64decodehash", builtin_base64decodehash),
    make_row("_sfunc_base64encode", builtin_base64encode),
    make_row("_sfunc_base64encodehash", builtin_base64encodehash),
    make_row("_sfunc_createdirectory", not_implemented<58>),
    make_row("_sfunc_removedirectory", not_implemented<59>),
    make_row("_sfunc_getcurrentdirectory", not_implemented<60>),
    make_row("_sfunc_setcurrentdirectory", not_implemented<61>),
    make_row("_sfunc_copyfile", not_implemented<62>),
    make_row("_sfunc_movefile", not_implemented<63>),
    make_row("_sfunc_deletefile", not_implemented<64>),
    make_row("_sfunc_fileopen", not_implemented<65>),
    make_row("_sfunc_fileclose", not_implemented<66>),
    make_row("_sfunc_getfilesize", not_implemented<67>),
    make_row("_sfunc_setfilepointer", not_implemented<68>),
    make_row("_sfunc_fileread", not_implemented<69>),
    make_row("_sfunc_filereadhash", not_implemented<70>),
    make_row("_sfunc_filewrite", not_implemented<71>),
    make_row("_sfunc_filewritehash", not_implemented<72>),
    make_row("_sfunc_filefindinit", not_implemented<73>),
    make_row("_sfunc_filefindnext", not_implemented<74>),
    make_row("_sfunc_filefindclose", not_implemented<75>),
    make_row("_sfunc_filefindattributes", not_implemented<76>),
    make_row("_sfunc_filefindname", not_implemented<77>),
    make_row("_sfunc_filefindsize", not_implemented<78>),
    make_row("_sfunc_filefindtime", not_implemented<79>),
    make_row("_sfunc_shell", not_implemented<80>),
    make_row("_sfunc_execscript", not_implemented<81>),
    make_row("_sfunc_gethostname", builtin_gethostname),
    make_row("_sfunc_gethostbyname", builtin_gethostbyname),
    make_row("_sfunc_gethostbyaddr", builtin_gethostbyaddr),
    make_row("_sfunc_getsockname", builtin_getsockname),
    make_row("_sfunc_getpeername", builtin_getpeername),
    make_row("_sfunc_getsockport", builtin_getsockport),
    make_row("_sfunc_socket", builtin_socket),
    make_row("_sfunc_closesocket", builtin_closesocket),
    make_row("_sfunc_connect", builtin_connect),
    make_row("_sfunc_bind", builtin_bind),
    make_row("_sfunc_listen", builtin_listen),
    make_row("_sfunc_accept", builtin_accept),
    make_row("_sfunc_select", builtin_select),
    make_row("_sfunc_recv", builtin_recv),
    make_row("_sfunc_recvhash", builtin_recvhash),
    make_row("_sfunc_send", builtin_send),
    make_row("_sfunc_sendhash", builtin_sendhash),
    make_row("_sfunc_messagebox", builtin_messagebox),
    make_row("_sfunc_strecho", builtin_strecho),
    make_row("_sfunc_lineecho", builtin_lineecho),
    make_row("_sfunc_strsend", builtin_strsend),
    make_row("_sfunc_channeladd", builtin_channeladd),
    make_row("_sfunc_channelmove", builtin_channelmove),
    make_row("_sfunc_channeldelete", builtin_channeldelete),
    make_row("_sfunc_getcurrentchannel", builtin_getcurrentchannel),
};

namespace {

template <int Row>
std::int32_t LUMO_CALL not_implemented(CallContext*, ValueNode*, ValueNode*, char* message) {
  std::snprintf(message, LUMO_MESSAGE_SIZE, "%s: not implemented",
                BuiltinTable[Row].name + std::strlen(kPrefix));
  return LUMO_STATUS_FAILED;
}

}  // namespace

int find_builtin_row(const char* full_name) {
  if (full_name == nullptr) return -1;
  std::int32_t name_hash = name_hash_of(full_name);
  for (int index = 0; index < BUILTIN_COUNT; ++index) {
    const BuiltinRow& candidate = BuiltinTable[index];
    if (candidate.name_hash == name_hash && std::strcmp(candidate.name, full_name) == 0)
      return index;
  }
  return -1;
}

NativeFunction find_builtin(const char* full_name) {
  int index = find_builtin_row(full_name);
  return index < 0 ? nullptr : BuiltinTable[index].entry;
}

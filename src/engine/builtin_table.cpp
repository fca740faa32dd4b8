// The built-in table, in its fixed row order. Signatures are computed at compile time.
#include "engine/builtin_table.h"

#include <cstring>

#include "builtins/files.h"
#include "builtins/hash.h"
#include "builtins/jcode.h"
#include "builtins/regex_builtins.h"
#include "builtins/sockets.h"
#include "builtins/strings.h"
#include "builtins/time.h"
#include "builtins/window.h"

namespace {

constexpr BuiltinRow make_row(const char* full_name, NativeFunction entry) {
  return BuiltinRow{full_name, name_hash_of(full_name), entry};
}

}  // namespace

constinit const BuiltinRow BuiltinTable[BUILTIN_COUNT] = {
    make_row("_sfunc_error", builtin_error),
    make_row("_sfunc_istype", builtin_istype),
    make_row("_sfunc_int", builtin_int),
    make_row("_sfunc_uintstr", builtin_uintstr),
    make_row("_sfunc_getlocale", builtin_getlocale),
    make_row("_sfunc_setlocale", builtin_setlocale),
    make_row("_sfunc_sleep", builtin_sleep),
    make_row("_sfunc_getsystemtime", builtin_getsystemtime),
    make_row("_sfunc_setsystemtime", builtin_setsystemtime),
    make_row("_sfunc_getlocaltime", builtin_getlocaltime),
    make_row("_sfunc_setlocaltime", builtin_setlocaltime),
    make_row("_sfunc_comparetime", builtin_comparetime),
    make_row("_sfunc_difftime", builtin_difftime),
    make_row("_sfunc_getdatestring", builtin_getdatestring),
    make_row("_sfunc_getdate", builtin_getdate),
    make_row("_sfunc_gettimestring", builtin_gettimestring),
    make_row("_sfunc_gettime", builtin_gettime),
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
    make_row("_sfunc_createdirectory", builtin_createdirectory),
    make_row("_sfunc_removedirectory", builtin_removedirectory),
    make_row("_sfunc_getcurrentdirectory", builtin_getcurrentdirectory),
    make_row("_sfunc_setcurrentdirectory", builtin_setcurrentdirectory),
    make_row("_sfunc_copyfile", builtin_copyfile),
    make_row("_sfunc_movefile", builtin_movefile),
    make_row("_sfunc_deletefile", builtin_deletefile),
    make_row("_sfunc_fileopen", builtin_fileopen),
    make_row("_sfunc_fileclose", builtin_fileclose),
    make_row("_sfunc_getfilesize", builtin_getfilesize),
    make_row("_sfunc_setfilepointer", builtin_setfilepointer),
    make_row("_sfunc_fileread", builtin_fileread),
    make_row("_sfunc_filereadhash", builtin_filereadhash),
    make_row("_sfunc_filewrite", builtin_filewrite),
    make_row("_sfunc_filewritehash", builtin_filewritehash),
    make_row("_sfunc_filefindinit", builtin_filefindinit),
    make_row("_sfunc_filefindnext", builtin_filefindnext),
    make_row("_sfunc_filefindclose", builtin_filefindclose),
    make_row("_sfunc_filefindattributes", builtin_filefindattributes),
    make_row("_sfunc_filefindname", builtin_filefindname),
    make_row("_sfunc_filefindsize", builtin_filefindsize),
    make_row("_sfunc_filefindtime", builtin_filefindtime),
    make_row("_sfunc_shell", builtin_shell),
    make_row("_sfunc_execscript", builtin_execscript),
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

// The file and directory built-ins: directories, whole-file operations, file handles, directory
// searches, the shell, and running another script file.
#pragma once

#include "engine/value.h"

#define LUMO_FILE_BUILTIN(name)                                                     \
  std::int32_t LUMO_CALL builtin_##name(CallContext* context, ValueNode* arguments, \
                                        ValueNode* result, char* message)

LUMO_FILE_BUILTIN(createdirectory);
LUMO_FILE_BUILTIN(removedirectory);
LUMO_FILE_BUILTIN(getcurrentdirectory);
LUMO_FILE_BUILTIN(setcurrentdirectory);
LUMO_FILE_BUILTIN(copyfile);
LUMO_FILE_BUILTIN(movefile);
LUMO_FILE_BUILTIN(deletefile);
LUMO_FILE_BUILTIN(fileopen);
LUMO_FILE_BUILTIN(fileclose);
LUMO_FILE_BUILTIN(getfilesize);
LUMO_FILE_BUILTIN(setfilepointer);
LUMO_FILE_BUILTIN(fileread);
LUMO_FILE_BUILTIN(filereadhash);
LUMO_FILE_BUILTIN(filewrite);
LUMO_FILE_BUILTIN(filewritehash);
LUMO_FILE_BUILTIN(filefindinit);
LUMO_FILE_BUILTIN(filefindnext);
LUMO_FILE_BUILTIN(filefindclose);
LUMO_FILE_BUILTIN(filefindattributes);
LUMO_FILE_BUILTIN(filefindname);
LUMO_FILE_BUILTIN(filefindsize);
LUMO_FILE_BUILTIN(filefindtime);
LUMO_FILE_BUILTIN(shell);
LUMO_FILE_BUILTIN(execscript);

#undef LUMO_FILE_BUILTIN

// Resource and control numbers of the main window, shared by lumo.rc and the window code.
// Plain macros: the resource compiler reads this file too.
#pragma once

#define IDI_LUMO 102
#define IDR_MAIN_MENU 104
#define IDR_ACCELERATORS 112
#define IDC_LINK_CURSOR 114
#define IDI_SERVER_ENTRY 115
#define IDI_CHANNEL_ENTRY 116

#define ID_SELECTOR 1025
#define ID_SERVER_VIEW 1026
#define ID_INPUT 1027

#define CMD_CONNECT 40001
#define CMD_DISCONNECT 40002
#define CMD_EXIT 40003
#define CMD_SEND 40015
#define CMD_NEXT_CONTROL 40016
#define CMD_INTERRUPT 40017
#define CMD_RELOAD 40018
#define CMD_INSERT_COLOR 40019
#define CMD_INSERT_BOLD 40020
#define CMD_INSERT_UNDERLINE 40021
#define CMD_INSERT_REVERSE 40022
#define CMD_CLEAR_VIEW 40023

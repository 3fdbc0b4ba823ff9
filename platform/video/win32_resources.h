/* win32_resources.h — ids of the resources linked into every Windows program
   of this project (win32_dialog.rc). Plain C preprocessor only: windres reads
   this file too. */
#ifndef SORVANE_WIN32_RESOURCES_H
#define SORVANE_WIN32_RESOURCES_H

/* The settings dialog. Its control ids are the shell's (shell/settings_dialog.h):
   1 "Demo" (IDOK), 2 "Die" (IDCANCEL), 1001 resolution, 1003 full screen,
   1006 multisampling, -1 the labels. */
#define SORVANE_SETTINGS_DIALOG 101

#endif

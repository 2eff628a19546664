// GLib-based libraries for the Linux halves. GLib has a function named g_log, like the
// launcher's journal path: GLib's is renamed in the files that include this.
#pragma once

#define g_log glib_g_log
#include <gtk/gtk.h>
#include <libsecret/secret.h>
#undef g_log

// GTK, cairo and Pango for the Linux halves. GLib has a function named g_log, like the
// launcher's journal path: GLib's is renamed in the files that include this.
#pragma once

#define g_log glib_g_log
#include <cairo.h>
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <pango/pangocairo.h>
#undef g_log

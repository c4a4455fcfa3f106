// The plug-in's name and version as the player and the user see them: the record's description,
// the caption of every box, the About text and the dialog's title are all made from it.
#ifndef TOLLVANE_PLUGIN_VERSION_H
#define TOLLVANE_PLUGIN_VERSION_H

#define TOLLVANE_VERSION "Tollvane v1.4"

#endif

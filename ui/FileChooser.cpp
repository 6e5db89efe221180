#include "ui/FileChooser.h"

#include <gtk/gtk.h>
#include <sys/utsname.h>

#include <cstdio>

#include "app/Log.h"

namespace {

// The version lines come from the kernel: build, major and minor from its release ("6.1.0-18-amd64"
// gives 0, 6, 1), the platform id 0 (none of the Windows platform families), and the system's
// name, release and version as the service-pack text.
void logSystemVersion() {
    utsname system{};
    int major = 0;
    int minor = 0;
    int build = 0;
    if (uname(&system) == 0) std::sscanf(system.release, "%d.%d.%d", &major, &minor, &build);
    logStamped("vi.dwBuildNumber: %d", build);
    logStamped("vi.dwMajorVersion: %d", major);
    logStamped("vi.dwMinorVersion: %d", minor);
    logStamped("vi.dwPlatformId: %d", 0);
    logStamped("vi.szCSDVersion: %s %s %s", system.sysname, system.release, system.version);
}

bool gtkReady() {
    static bool ready = false;
    if (!ready) ready = gtk_init_check(nullptr, nullptr);
    return ready;
}

// GTK finishes closing a window only when its events are handled; the GLUT loop does not do that.
void drainGtkEvents() {
    while (gtk_events_pending()) gtk_main_iteration();
}

}  // namespace

GtkFileFilter* midiFileFilter() {
    GtkFileFilter* filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, "MIDI Files (*.mid)");
    gtk_file_filter_add_pattern(filter, "*.[Mm][Ii][Dd]");
    return filter;
}

bool chooseMidiFile(std::string& path) {
    logSystemVersion();
    logStamped("sizeof(OPENFILENAME):%d OPENFILENAME_SIZE_VERSION_400A:%d OPENFILENAME_SIZE_VERSION_400W:%d", 88,
               76, 76);
    logStamped("before new CFileDialog\n");
    // Without a display GTK cannot make the dialog; the program goes on without it.
    if (!gtkReady()) {
        logMessage("ERROR: unable to make new CFileDialog\n");
        return false;
    }
    // An open dialog accepts only files that exist.
    GtkWidget* dialog = gtk_file_chooser_dialog_new("Open", nullptr, GTK_FILE_CHOOSER_ACTION_OPEN, "_Cancel",
                                                    GTK_RESPONSE_CANCEL, "_Open", GTK_RESPONSE_ACCEPT, nullptr);
    gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(dialog), midiFileFilter());

    logStamped("fileDlg->DoModal\n");
    const int response = gtk_dialog_run(GTK_DIALOG(dialog));
    bool chosen = false;
    if (response == GTK_RESPONSE_ACCEPT) {
        if (gchar* file = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog))) {
            path = file;
            g_free(file);
            chosen = true;
        } else {
            logMessage("ERROR: CFileDialog::DoModal returned no file name\n");
        }
    } else if (response == GTK_RESPONSE_CANCEL || response == GTK_RESPONSE_DELETE_EVENT) {
        logMessage("ERROR: CFileDialog::DoModal returns IDCANCEL\n");
        // GTK reports no error code; a cancel is always the user's own.
        logMessage("CommDlgExtendedError is %d (%x)\n", 0, 0);
    } else {
        logMessage("ERROR: CFileDialog::DoModal returns %d (%x)\n", response, static_cast<unsigned>(response));
    }
    gtk_widget_destroy(dialog);
    drainGtkEvents();
    return chosen;
}

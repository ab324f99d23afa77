// vanto_test_app [--at X,Y]: a window with a "Name" field, a "Subscribe" checkbox, a
// "Send" button and a list of 200 rows. Every line on standard output is one JSON
// object, written as soon as it happens:
//   {"event":"ready","pid":…,"window":…}                  the window is on screen
//   {"event":"layout","widgets":{"Name":{"x","y","width","height"},…}}
//                                                         where each part is, in root
//                                                         coordinates, whenever it moves
//   {"event":"text","field":"Name","text":…}              the field's text changed
//   {"event":"toggled","checkbox":"Subscribe","active":…}
//   {"event":"clicked","button":"Send"}
//   {"event":"wheel","list":"Rows","direction":"down"}    one wheel click over the list
//   {"event":"scrolled","list":"Rows","offset":…}         the list's offset in pixels
//
// The list moves a fixed 120 px per wheel click, as browsers do, rather than GTK's
// own step (the page height to the power 2/3), so a test can tell from the offset how
// many clicks arrived and compare pixel amounts with what a browser would do.

#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <nlohmann/json.hpp>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

namespace {

using Json = nlohmann::ordered_json;

constexpr double pixelsPerWheelClick = 120;

struct App {
    GtkWidget* window = nullptr;
    GtkWidget* entry = nullptr;
    GtkWidget* checkbox = nullptr;
    GtkWidget* button = nullptr;
    GtkWidget* list = nullptr;
    GtkAdjustment* adjustment = nullptr;
    std::string lastLayout;
    bool ready = false;
};

void report(const Json& line) {
    std::cout << line.dump() << '\n' << std::flush;
}

Json placeOf(GtkWidget* widget, GtkWidget* toplevel) {
    int x = 0;
    int y = 0;
    gtk_widget_translate_coordinates(widget, toplevel, 0, 0, &x, &y);
    int originX = 0;
    int originY = 0;
    gdk_window_get_origin(gtk_widget_get_window(toplevel), &originX, &originY);
    return {{"x", originX + x},
            {"y", originY + y},
            {"width", gtk_widget_get_allocated_width(widget)},
            {"height", gtk_widget_get_allocated_height(widget)}};
}

gboolean reportLayout(gpointer data) {
    auto* app = static_cast<App*>(data);
    if (!gtk_widget_get_realized(app->window)) return G_SOURCE_REMOVE;
    if (!app->ready) {
        app->ready = true;
        report({{"event", "ready"},
                {"pid", static_cast<long>(getpid())},
                {"window", static_cast<unsigned long>(gdk_x11_window_get_xid(gtk_widget_get_window(app->window)))}});
    }
    Json layout = {{"event", "layout"},
                   {"widgets",
                    {{"Name", placeOf(app->entry, app->window)},
                     {"Subscribe", placeOf(app->checkbox, app->window)},
                     {"Send", placeOf(app->button, app->window)},
                     {"Rows", placeOf(app->list, app->window)}}}};
    std::string line = layout.dump();
    if (line != app->lastLayout) {
        app->lastLayout = line;
        report(layout);
    }
    return G_SOURCE_REMOVE;
}

gboolean onConfigure(GtkWidget*, GdkEvent*, gpointer data) {
    g_idle_add(reportLayout, data);
    return FALSE;
}

void onAllocate(GtkWidget*, GdkRectangle*, gpointer data) {
    g_idle_add(reportLayout, data);
}

void onChanged(GtkEditable* editable, gpointer) {
    report({{"event", "text"}, {"field", "Name"}, {"text", gtk_entry_get_text(GTK_ENTRY(editable))}});
}

void onToggled(GtkToggleButton* toggle, gpointer) {
    report({{"event", "toggled"}, {"checkbox", "Subscribe"}, {"active", gtk_toggle_button_get_active(toggle) != 0}});
}

void onClicked(GtkButton*, gpointer) {
    report({{"event", "clicked"}, {"button", "Send"}});
}

void onScrolled(GtkAdjustment* adjustment, gpointer) {
    report({{"event", "scrolled"},
            {"list", "Rows"},
            {"offset", static_cast<long>(std::lround(gtk_adjustment_get_value(adjustment)))}});
}

gboolean onScrollEvent(GtkWidget*, GdkEventScroll* event, gpointer data) {
    auto* app = static_cast<App*>(data);
    double clicks = 0;
    switch (event->direction) {
    case GDK_SCROLL_UP:
        clicks = -1;
        break;
    case GDK_SCROLL_DOWN:
        clicks = 1;
        break;
    case GDK_SCROLL_SMOOTH:
        clicks = event->delta_y;
        break;
    default:
        return FALSE; // horizontal: the list has nothing to the side
    }
    if (event->direction != GDK_SCROLL_SMOOTH)
        report({{"event", "wheel"}, {"list", "Rows"}, {"direction", clicks > 0 ? "down" : "up"}});
    const double lowest = gtk_adjustment_get_lower(app->adjustment);
    const double highest = gtk_adjustment_get_upper(app->adjustment) - gtk_adjustment_get_page_size(app->adjustment);
    const double target = gtk_adjustment_get_value(app->adjustment) + clicks * pixelsPerWheelClick;
    gtk_adjustment_set_value(app->adjustment, std::clamp(target, lowest, std::max(lowest, highest)));
    return TRUE;
}

} // namespace

int main(int argc, char** argv) {
    gtk_init(&argc, &argv);
    int x = 40;
    int y = 40;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--at") == 0) std::sscanf(argv[i + 1], "%d,%d", &x, &y);

    App app;
    app.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(app.window), "Vanto Test App");
    gtk_window_set_default_size(GTK_WINDOW(app.window), 420, 640);
    gtk_window_move(GTK_WINDOW(app.window), x, y);
    g_signal_connect(app.window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);

    GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
    gtk_container_set_border_width(GTK_CONTAINER(column), 12);
    gtk_container_add(GTK_CONTAINER(app.window), column);

    GtkWidget* nameRow = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
    GtkWidget* label = gtk_label_new("Name");
    app.entry = gtk_entry_new();
    // The label names the field for assistive technologies (a labelled-by relation).
    gtk_label_set_mnemonic_widget(GTK_LABEL(label), app.entry);
    gtk_box_pack_start(GTK_BOX(nameRow), label, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(nameRow), app.entry, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(column), nameRow, FALSE, FALSE, 0);
    g_signal_connect(app.entry, "changed", G_CALLBACK(onChanged), nullptr);

    app.checkbox = gtk_check_button_new_with_label("Subscribe");
    gtk_box_pack_start(GTK_BOX(column), app.checkbox, FALSE, FALSE, 0);
    g_signal_connect(app.checkbox, "toggled", G_CALLBACK(onToggled), nullptr);

    app.button = gtk_button_new_with_label("Send");
    gtk_widget_set_halign(app.button, GTK_ALIGN_START);
    gtk_box_pack_start(GTK_BOX(column), app.button, FALSE, FALSE, 0);
    g_signal_connect(app.button, "clicked", G_CALLBACK(onClicked), nullptr);

    app.list = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(app.list), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
    GtkWidget* rows = gtk_list_box_new();
    for (int i = 1; i <= 200; ++i) {
        GtkWidget* row = gtk_label_new(("Row " + std::to_string(i)).c_str());
        gtk_widget_set_halign(row, GTK_ALIGN_START);
        gtk_list_box_insert(GTK_LIST_BOX(rows), row, -1);
    }
    gtk_container_add(GTK_CONTAINER(app.list), rows);
    gtk_box_pack_start(GTK_BOX(column), app.list, TRUE, TRUE, 0);
    app.adjustment = gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(app.list));
    g_signal_connect(app.adjustment, "value-changed", G_CALLBACK(onScrolled), nullptr);
    g_signal_connect(app.list, "scroll-event", G_CALLBACK(onScrollEvent), &app);

    g_signal_connect(app.window, "configure-event", G_CALLBACK(onConfigure), &app);
    g_signal_connect(app.window, "size-allocate", G_CALLBACK(onAllocate), &app);
    gtk_widget_show_all(app.window);
    gtk_main();
    return 0;
}

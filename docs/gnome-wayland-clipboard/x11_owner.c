/* Owns CLIPBOARD on DISPLAY with a UTF8_STRING text and prints every request's target with the
   milliseconds since taking ownership. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <xcb/xcb.h>
static xcb_atom_t atom(xcb_connection_t* c, const char* n) {
    xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, strlen(n), n), 0);
    xcb_atom_t a = r->atom;
    free(r);
    return a;
}
static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}
int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
    const char* text = argv[1];
    xcb_connection_t* c = xcb_connect(NULL, NULL);
    xcb_screen_t* s = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    xcb_window_t w = xcb_generate_id(c);
    xcb_create_window(c, 0, w, s->root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY, 0, 0, NULL);
    xcb_atom_t clip = atom(c, "CLIPBOARD"), utf8 = atom(c, "UTF8_STRING"),
               targets = atom(c, "TARGETS");
    xcb_set_selection_owner(c, w, clip, XCB_CURRENT_TIME);
    xcb_flush(c);
    double t0 = now();
    printf("owner\n");
    fflush(stdout);
    xcb_generic_event_t* e;
    while ((e = xcb_wait_for_event(c))) {
        if ((e->response_type & 0x7f) == XCB_SELECTION_REQUEST) {
            xcb_selection_request_event_t* r = (xcb_selection_request_event_t*)e;
            xcb_get_atom_name_reply_t* n =
                xcb_get_atom_name_reply(c, xcb_get_atom_name(c, r->target), 0);
            printf("%.0f ms: request %.*s\n", now() - t0, xcb_get_atom_name_name_length(n),
                   xcb_get_atom_name_name(n));
            fflush(stdout);
            free(n);
            xcb_atom_t prop = r->property ? r->property : r->target;
            if (r->target == targets) {
                xcb_atom_t list[] = {targets, utf8};
                xcb_change_property(c, XCB_PROP_MODE_REPLACE, r->requestor, prop, XCB_ATOM_ATOM, 32,
                                    2, list);
            } else if (r->target == utf8) {
                xcb_change_property(c, XCB_PROP_MODE_REPLACE, r->requestor, prop, utf8, 8,
                                    strlen(text), text);
            } else
                prop = XCB_NONE;
            xcb_selection_notify_event_t ev = {
                XCB_SELECTION_NOTIFY, 0, 0, r->time, r->requestor, r->selection, r->target, prop};
            xcb_send_event(c, 0, r->requestor, 0, (const char*)&ev);
            xcb_flush(c);
        } else if ((e->response_type & 0x7f) == XCB_SELECTION_CLEAR) {
            printf("lost\n");
            fflush(stdout);
            free(e);
            break;
        }
        free(e);
    }
    return 0;
}

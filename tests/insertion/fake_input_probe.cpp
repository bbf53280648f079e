// Presses the paste shortcut once through KWin's fake-input protocol, as the program would, and
// prints why not when KWin refuses. Run inside the compositor by kde_fake_input_test.
#include <iostream>

#include "insertion/kde_fake_input_keystroke.h"
#include "insertion/paster_failure.h"

int main() {
    try {
        talvoro::makeKdeFakeInputKeystroke()->press(talvoro::PasteShortcut::controlV);
        return 0;
    } catch (const talvoro::Paster::Failure& failure) {
        std::cout << failure.what() << std::endl;
        return 1;
    }
}

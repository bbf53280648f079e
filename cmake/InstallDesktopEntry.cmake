# Installs the desktop entry with Exec naming the installed program by its absolute path: KWin
# grants the Wayland protocols listed in X-KDE-Wayland-Interfaces only to the program whose
# entry's Exec is its canonical path. Run at install time, so a --prefix given then counts.
file(READ ${TALVORO_ENTRY_SOURCE} entry)
string(REPLACE "\nExec=talvoro\n" "\nExec=${CMAKE_INSTALL_PREFIX}/${TALVORO_BINDIR}/talvoro\n"
  entry "${entry}")
set(target "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${TALVORO_DATADIR}/applications/org.talvoro.Talvoro.desktop")
message(STATUS "Installing: ${target}")
file(WRITE ${target} "${entry}")

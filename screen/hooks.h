// hooks.h - what the folders below the screen layer call upward: the data
// layer's message windows (DataMessages) and the key reader's pop-ups
// (Keyboard.calculator, Keyboard.calendar).  The program installs them at
// start-up; tests install what they exercise.
#pragma once

// Points the data layer's messages at ShowMessage and CloseWindow, and
// Alt+X and Alt+C at Calculator and CalendarPopup.
void InstallScreenHooks();

#pragma once
// The program's four windows, created at start-up and deleted at its end.

// Sets the title and creates Form1 (FormCreate runs in its constructor), Form3, Form4, Form5,
// all hidden. Form1 is shown by the caller.
void CreateApplicationWindows();
// Deletes the windows and every input error window (tests create them afresh per test case).
void DestroyApplicationWindows();

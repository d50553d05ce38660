#pragma once

class frmMain;

// The localisation pass run first thing at start-up. Never reports a failure:
// each step that fails is skipped.
void ApplyResourceStrings(frmMain& window);

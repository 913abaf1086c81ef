#pragma once
// The Download command's quality question as a sheet on the current window: "Select Video
// Quality for Download." with the video's title, one button per choice and "Cancel". The main
// window's showingAlert is set while the sheet is up. Main thread.

// Installs the sheet as the cache's quality question.
void installDownloadQualitySheet();

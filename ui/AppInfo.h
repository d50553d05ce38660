#pragma once

// The application's title: the window caption and the name the per-user
// store files the placement under.
inline constexpr char kAppTitle[] = "Velmora";

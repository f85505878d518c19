#pragma once
// The tip of the day.
class TQVApplication;

// Shows a tip from the record's tips file when `showTips` is on or the user
// `asked`; returns the new value for the ShowTips option.
bool ShowTipOfTheDay(const TQVApplication& record, bool showTips, bool asked);

/* Help contexts of Quorvandel Corvantis.
   The program opens the help file with these numbers: 0 from the Help menu
   and F1 (shown as the default topic), 500 from F1 in the Preferences
   dialog, 60000 from the Tech. Support button of the About box.
   Each name is tied to its topic in the [ALIAS] section of Corvantis.hhp. */
#define IDH_CONTENTS 0
#define IDH_PREFERENCES 500
#define IDH_TECHNICAL_SUPPORT 60000

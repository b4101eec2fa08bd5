// Compact JPEG decoder (to be written).

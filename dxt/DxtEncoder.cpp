// DXT encoder (to be written).

// end to end

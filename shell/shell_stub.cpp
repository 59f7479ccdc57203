// replaced by the frame loop

# A filled star.
import kelpmoor.turtle as turtle

turtle.penup()
turtle.goto(-100, 30)
turtle.pendown()
turtle.color("red", "yellow")
turtle.begin_fill()
for i in range(5):
    turtle.forward(200)
    turtle.right(144)
turtle.end_fill()
turtle.done()
